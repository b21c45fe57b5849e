'use strict';
// What the bench reads of each program: its time beside the floors' (the timer of
// tools/plugin/floor.js, which starts every program once a round in turn), its page faults and
// peak memory (peak-rss.c), and the instructions it runs (callgrind). Times scatter on a shared
// machine, so they are compared only side by side, within one run of the timer, and shown with
// their spread; faults and instructions do not, and are what the bench holds the plugin to.
const path = require('node:path');
const { fail, hostEnv, runOk } = require('./run.js');
const { OUT } = require('./floors.js');
const { median, buildTimer, timeSideBySide } = require('../plugin/floor.js');

const ROUNDS = Number(process.env.BENCH_ROUNDS || 3000);
// The spread of a ratio: how far it moves from one tenth of the rounds to another.
const BLOCKS = 10;
const OUTPUTS = ['pipe', 'null']; // read through a pipe, as a host reads it, or sent to /dev/null
const SAMPLES = 9; // runs of each program for its faults and memory

// Times `commands` (argument lists) in turn, `rounds` rounds, in the request's environment, with
// the output sent to `output`. Returns each command's times in seconds, one a round.
function alternate(commands, env, output, rounds = ROUNDS) {
  let times;
  try {
    times = timeSideBySide(buildTimer(['gcc', '-O2'], path.resolve(OUT)), commands, { rounds, output, env: hostEnv(env) });
  } catch (error) {
    fail(error.message);
  }
  const failed = times.findIndex((runs) => runs.some((ns) => ns < 0));
  if (failed >= 0) fail(`${commands[failed].join(' ')} did not run and exit 0`);
  return times.map((runs) => runs.map((ns) => ns / 1e9));
}

// The ratio of the medians of two programs timed side by side, and its spread: the standard
// deviation of the same ratio over BLOCKS equal blocks of rounds.
function ratio(times, floorTimes) {
  const value = median(times) / median(floorTimes);
  const size = Math.floor(times.length / BLOCKS);
  const blocks = Array.from({ length: BLOCKS }, (_, i) =>
    median(times.slice(i * size, (i + 1) * size)) / median(floorTimes.slice(i * size, (i + 1) * size)));
  const mean = blocks.reduce((sum, block) => sum + block, 0) / BLOCKS;
  const spread = Math.sqrt(blocks.reduce((sum, block) => sum + (block - mean) ** 2, 0) / (BLOCKS - 1));
  return { value, spread };
}

// The page faults a command takes from execve to exit, fewest and most over SAMPLES runs (more
// than the fewest only when its stack happens to reach a page the kernel had not yet given), and
// its peak resident memory in KiB.
function faultsAndMemory(command, env) {
  const faults = [];
  let kib = 0;
  for (let i = 0; i < SAMPLES; i++) {
    const result = runOk(`${OUT}/peak-rss`, command, { env: hostEnv(env), encoding: 'utf8' });
    const [, peak, taken] = result.stderr.match(/peak-rss: (\d+) faults: (\d+)\s*$/);
    kib = Math.max(kib, Number(peak));
    faults.push(Number(taken));
  }
  return { fewest: Math.min(...faults), most: Math.max(...faults), kib };
}

// The instructions a command runs, as callgrind counts them: the same for the same program and
// environment, whatever else the machine does.
function instructions(command, env) {
  const counted = runOk('valgrind', ['--tool=callgrind', '--callgrind-out-file=/dev/null', ...command], { env: hostEnv(env), encoding: 'utf8' });
  const collected = counted.stderr.match(/Collected : (\d+)/);
  if (!collected) fail(`callgrind counted nothing for ${command.join(' ')}`);
  return Number(collected[1]);
}

module.exports = { OUTPUTS, ROUNDS, median, alternate, ratio, faultsAndMemory, instructions };
