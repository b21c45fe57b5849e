'use strict';
// Timing the plugin against its floors: hyperfine (-N, no shell) over plugin and floors side by
// side, once with the output read through a pipe, as the host reads it, and once sent to
// /dev/null, in ROUNDS rounds of RUNS runs each, the order flipped every round and every request
// visited in every round, so that drift in the machine's load hits all alike; the medians are
// taken over all rounds together. And the peak memory and page faults of one run (peak-rss.c).
const fs = require('node:fs');
const { fail, hostEnv, run, runOk } = require('./run.js');
const { OUT, REQUESTS } = require('./floors.js');

// Short rounds: the load of a shared machine changes within a fraction of a second, and each round
// puts plugin and floor side by side within a few milliseconds of each other.
const ROUNDS = Number(process.env.BENCH_ROUNDS || 100);
const RUNS = Number(process.env.BENCH_RUNS || 6);
const WARMUP = 2;
const REFERENCE_RUNS = 1; // per round, for the slow Python and Node.js scripts
const RSS_SAMPLES = 3;
const OUTPUTS = ['pipe', 'null']; // hyperfine --output: read through a pipe, or sent to /dev/null

// Runs hyperfine once over `commands` (argument lists) in the request's environment, and returns
// each command's wall-clock times in seconds.
function hyperfine(env, commands, output, runs, warmup) {
  const file = `${OUT}/hyperfine.json`;
  const quote = (word) => `'${word.replace(/'/g, `'\\''`)}'`;
  const options = ['-N', '--style', 'none', '--output', output, '--export-json', file];
  const counts = ['--warmup', `${warmup}`, '--runs', `${runs}`];
  const lines = commands.map((command) => command.map(quote).join(' '));
  const result = run('hyperfine', [...options, ...counts, ...lines], { env: hostEnv(env), stdio: ['ignore', 'ignore', 'pipe'] });
  if (result.status !== 0) fail(`hyperfine: ${result.stderr}`);
  return JSON.parse(fs.readFileSync(file, 'utf8')).results.map((measured, i) => {
    if (measured.exit_codes.some((code) => code !== 0)) fail(`${lines[i]} exited non-zero`);
    return measured.times;
  });
}

// Every request of every build in every round and both output modes, plugin and floors side by
// side; the reference scripts (echo answers) once per round. Returns one group per build and
// request, with times[output] = [plugin, floor, plain floor] lists, and sets each script's times.
function measureTimes(builds, reference, echo) {
  const groups = builds.flatMap((build) =>
    REQUESTS.map((request) => ({
      env: request.env,
      commands: [[build.program, ...(request.args ?? [])], [build.floors[request.name]], [build.plainFloors[request.name]]],
      times: Object.fromEntries(OUTPUTS.map((output) => [output, [[], [], []]])),
      build,
      request,
    })),
  );
  const scripts = { env: echo.env, commands: reference.map((script) => script.command), times: { pipe: reference.map(() => []) } };
  const plan = [
    ...groups.flatMap((group) => OUTPUTS.map((output) => [group, output, RUNS, WARMUP])),
    [scripts, 'pipe', REFERENCE_RUNS, 0],
  ];
  for (let round = 0; round < ROUNDS; round++) {
    if (process.stderr.isTTY) process.stderr.write(`\rtiming: round ${round + 1} of ${ROUNDS}`);
    for (const [group, output, runs, warmup] of plan) {
      const order = group.commands.map((_, i) => i);
      if (round % 2 === 1) order.reverse();
      const times = hyperfine(group.env, order.map((i) => group.commands[i]), output, runs, warmup);
      order.forEach((i, at) => group.times[output][i].push(...times[at]));
    }
  }
  if (process.stderr.isTTY) process.stderr.write('\n');
  reference.forEach((script, i) => (script.times = scripts.times.pipe[i]));
  return groups;
}

// The peak resident memory in KiB of a command and the page faults it takes from execve to exit,
// the highest of a few runs each.
function peakMemory(command, env) {
  let kib = 0;
  let faults = 0;
  for (let i = 0; i < RSS_SAMPLES; i++) {
    const result = runOk(`${OUT}/peak-rss`, command, { env: hostEnv(env), encoding: 'utf8' });
    const [, peak, taken] = result.stderr.match(/peak-rss: (\d+) faults: (\d+)\s*$/);
    kib = Math.max(kib, Number(peak));
    faults = Math.max(faults, Number(taken));
  }
  return { kib, faults };
}

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  const middle = sorted.length >> 1;
  return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
}

module.exports = { ROUNDS, RUNS, REFERENCE_RUNS, OUTPUTS, measureTimes, peakMemory, median };
