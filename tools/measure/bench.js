#!/usr/bin/env node
'use strict';
// Shows what one request costs the plugin against its floors, programs that write the same bytes
// in one write and exit (floors.js). The host starts the plugin once per request, so the plugin's
// cost is its process's cost: against the raw floor, which has no C library at all, the cost of
// everything the plugin does; against the plain floor, what the build costs next to the plainest C
// program of its kind.
//
// For each build and request it times plugin and floors side by side (timing.js), counts their
// page faults, system calls and instructions, measures their peak memory, times the same echo
// answer from a tiny Python and a tiny Node.js script for reference, and serves the echo answer
// through lighttpd to ab (server.js). It prints the tables, and ends non-zero only on what does
// not scatter from run to run: a build that takes more page faults than its floor allows, or
// that writes an answer in more than one write, opens a file or keeps a heap.
//
// A Node.js script rather than a shell script: it takes medians and compares answers byte for byte
// without jq or awk, and node is already needed by the tests.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { command } = require('../cli.js');

const USAGE = `usage: make bench
   or: PROGRAM=plugin_NAME [BENCH_NATIVE=... BENCH_STATIC=...] tools/measure/bench.js
Times every answer of the native and static builds against the floors: programs that write the
same bytes in one write and exit. The environment: PROGRAM, the executable's name; BENCH_NATIVE and
BENCH_STATIC to measure other executables (a candidate change); BENCH_ROUNDS (default 3000);
BENCH_SERVER_REQUESTS (default 4000 a run).`;
const { fail } = command('bench', USAGE);
process.chdir(path.join(__dirname, '..', '..'));
const { PROGRAM } = process.env;
if (!PROGRAM) fail('run it as make bench, which gives it PROGRAM');

const { hostEnv, run, runOk, firstLine } = require('./run.js');
const { OUT, REQUESTS, builds, buildFloors } = require('./floors.js');
const { OUTPUTS, ROUNDS, median, alternate, ratio, faultsAndMemory, instructions } = require('./timing.js');
const { systemCalls, answerCalls } = require('../plugin/trace.js');
const { measureServer } = require('./server.js');

const ECHO = REQUESTS.find((request) => request.name === 'echo');
const REFERENCE_ROUNDS = 60;
// A static build may take one page fault more than the raw floor, for the one page of data it
// writes; the native one no more than the plain floor, whose loader does what its loader does.
const FAULT_ALLOWANCE = { static: ['raw', 1], native: ['plain', 0] };

// The system's own interpreter for the reference scripts, found on its plain PATH: the
// interpreter itself, not a version manager's wrapper script in front of it.
const SYSTEM_PATH = '/usr/local/bin:/usr/bin:/bin';
function interpreter(name) {
  const found = run('sh', ['-c', 'command -v "$1"', 'sh', name], { env: { PATH: SYSTEM_PATH }, encoding: 'utf8' });
  if (found.status !== 0) fail(`no ${name} on ${SYSTEM_PATH}`);
  return found.stdout.trim();
}

function machine() {
  const cpu = fs.readFileSync('/proc/cpuinfo', 'utf8').match(/^model name\s*:\s*(.*)$/m)?.[1] ?? os.arch();
  return `${cpu}, ${os.cpus().length} cores; Linux ${os.release()}`;
}

const load = () => fs.readFileSync('/proc/loadavg', 'utf8').split(' ').slice(0, 3).join(' ');
const microseconds = (seconds) => `${(seconds * 1e6).toFixed(1)} µs`;
const shown = ({ value, spread }) => `${value.toFixed(3)} ±${spread.toFixed(3)}`;
const faults = ({ fewest, most }) => (fewest === most ? `${fewest}` : `${fewest}-${most}`);

// Markdown, ready for the docs: the first two columns are names, the others numbers.
function printTable(rows) {
  const widths = rows[0].map((_, column) => Math.max(...rows.map((row) => row[column].length)));
  const pad = (cell, i) => (i < 2 ? cell.padEnd(widths[i]) : cell.padStart(widths[i]));
  const rule = (width, i) => (i < 2 ? `:${'-'.repeat(width + 1)}` : `${'-'.repeat(width + 1)}:`);
  const line = (row) => `| ${row.map(pad).join(' | ')} |`;
  console.log(line(rows[0]));
  console.log(`|${widths.map(rule).join('|')}|`);
  rows.slice(1).forEach((row) => console.log(line(row)));
}

// Each build and request, plugin and floors side by side: times, then what does not scatter.
function measureBuilds(measured) {
  const times = [['build', 'request', ...OUTPUTS.flatMap((output) => [`plugin, ${output === 'pipe' ? 'pipe' : '/dev/null'}`, 'vs raw', 'vs plain'])]];
  const counts = [['build', 'request', 'faults', 'raw', 'plain', 'RSS KiB', 'raw', 'plain', 'system calls', 'raw', 'instructions']];
  const missed = [];
  for (const build of measured)
    for (const request of REQUESTS) {
      const commands = [[build.program, ...(request.args ?? [])], [build.rawFloors[request.name]], [build.plainFloors[request.name]]];
      const row = [build.name, request.name];
      for (const output of OUTPUTS) {
        const [plugin, raw, plain] = alternate(commands, request.env, output);
        row.push(microseconds(median(plugin)), shown(ratio(plugin, raw)), shown(ratio(plugin, plain)));
      }
      times.push(row);

      const [plugin, raw, plain] = commands.map((command) => faultsAndMemory(command, request.env));
      const [floorName, allowance] = FAULT_ALLOWANCE[build.name];
      const floor = { raw, plain }[floorName];
      const label = `${build.name} ${request.name}`;
      if (plugin.fewest > floor.fewest + allowance)
        missed.push(`${label}: ${plugin.fewest} page faults, where the ${floorName} floor takes ${floor.fewest}${allowance ? ` and ${allowance} more is allowed` : ''}`);
      const calls = systemCalls(commands[0], hostEnv(request.env));
      const { writes, opened, memory } = answerCalls(calls);
      if (writes.length !== 1) missed.push(`${label}: the answer left in ${writes.length} writes`);
      if (opened.length > 0) missed.push(`${label}: opened ${opened.join(', ')}`);
      if (memory.length > 0) missed.push(`${label}: asked the kernel for memory: ${memory.join(', ')}`);
      counts.push([build.name, request.name, faults(plugin), faults(raw), faults(plain), `${plugin.kib}`, `${raw.kib}`, `${plain.kib}`,
        `${calls.length}`, `${systemCalls(commands[1], hostEnv(request.env)).length}`, instructions(commands[0], request.env).toLocaleString('en-US')]);
    }
  return { times, counts, missed };
}

async function main() {
  if (run('tools/install-deps', ['bench'], { stdio: 'inherit' }).status !== 0) fail('the packages named above are missing');
  const startLoad = load();
  const startTime = Date.now();
  console.log(`Machine: ${machine()}`);
  console.log(`Load average at start: ${startLoad}`);
  const versions = [firstLine('gcc', ['--version']), firstLine('getconf', ['GNU_LIBC_VERSION']), `musl ${firstLine('dpkg-query', ['-W', '-f', '${Version}\n', 'musl'])}`];
  console.log(`Tools: ${versions.join('; ')}`);
  fs.mkdirSync(OUT, { recursive: true });
  runOk('gcc', ['-O2', '-o', `${OUT}/peak-rss`, 'tools/measure/peak-rss.c']);
  const measured = builds(PROGRAM);
  buildFloors(PROGRAM, measured);

  const reference = [
    { name: 'Python', command: [interpreter('python3'), 'tools/measure/echo.py'] },
    { name: 'Node.js', command: [interpreter('node'), 'tools/measure/echo.js'] },
  ];
  for (const script of reference)
    if (!runOk(script.command[0], script.command.slice(1), { env: hostEnv(ECHO.env) }).stdout.equals(measured[0].answers.echo))
      fail(`${script.command.join(' ')} does not write the plugin's echo answer byte for byte`);

  const { times, counts, missed } = measureBuilds(measured);
  const endLoad = load();
  console.log(`\nMedians of ${ROUNDS} rounds, each program started once a round in turn, and each`);
  console.log('ratio with its spread over ten blocks of rounds. "raw" is the raw floor, "plain" the plain floor:');
  printTable(times);
  console.log('\nWhat does not scatter: page faults from execve to exit (fewest-most of 9 runs), peak RSS, system');
  console.log('calls after execve, and the instructions callgrind counts:');
  printTable(counts);

  const native = measured.find((build) => build.name === 'native');
  const [plugin, ...scripts] = alternate([[native.program], ...reference.map((script) => script.command)], ECHO.env, 'pipe', REFERENCE_ROUNDS);
  console.log(`\nReference: the same echo answer from a tiny script, ${REFERENCE_ROUNDS} rounds beside the native plugin:`);
  const referenceRows = [['script', 'request', 'median', 'vs native plugin']];
  reference.forEach((script, i) =>
    referenceRows.push([script.name, 'echo', `${(median(scripts[i]) * 1e3).toFixed(1)} ms`, `${(median(scripts[i]) / median(plugin)).toFixed(1)} ×`]));
  printTable(referenceRows);
  printTable(await measureServer(measured, ECHO));

  const seconds = ((Date.now() - startTime) / 1000).toFixed(0);
  console.log(`\nLoad average at start ${startLoad}, after timing ${endLoad}, after the server runs ${load()}; ${seconds} s in all`);
  if (missed.length > 0) {
    console.log(`MISSED: ${missed.join('; ')}`);
    process.exit(1);
  }
  console.log('Held: page faults within the floors\' allowance, one write an answer, no file, no heap.');
}

main().catch((error) => fail(error.message));
