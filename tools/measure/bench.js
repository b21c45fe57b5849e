#!/usr/bin/env node
'use strict';
// Shows what one request costs the plugin against two floors, C programs that write the same
// bytes in one write and exit (floors.js). The host starts the plugin once per request, so the
// plugin's cost is its process's cost: against the same-flags floor the plugin's own work shows,
// against the plain floor what the build as a whole costs next to the plainest program there is.
//
// For each build and request it times plugin and floors (timing.js), measures their peak memory
// and page faults, times the same echo answer from a tiny Python and a tiny Node.js script for
// reference, and serves the echo answer through lighttpd to ab (server.js). It prints the tables
// and ends non-zero when a ratio misses its target. What the plugin must do (no heap, no file, one
// write) is the checks' to hold it to, not the bench's.
//
// A Node.js script rather than a shell script: it reads hyperfine's JSON exports, takes medians
// and compares answers byte for byte without jq or awk, and node is already needed by the tests.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { command } = require('../cli.js');

const USAGE = `usage: make bench
   or: PROGRAM=plugin_NAME [BENCH_NATIVE=... BENCH_MUSL=...] tools/measure/bench.js
Times every answer of the native and musl builds against the plainest C programs that write the
same bytes. The environment: CXX, CXXFLAGS, LDFLAGS, MUSL_CXX, MUSL_SPECS, NATIVE_LINK and MUSL_LINK
as the Makefile has them; PROGRAM, the executable's name; BENCH_NATIVE and BENCH_MUSL to measure
other executables (a candidate change); BENCH_ROUNDS and BENCH_RUNS (default 100 rounds of 6 runs);
BENCH_SERVER_REQUESTS (default 4000 a run).`;
const { fail } = command('bench', USAGE);
process.chdir(path.join(__dirname, '..', '..'));
const { PROGRAM } = process.env;
if (!PROGRAM) fail('run it as make bench, which gives it PROGRAM');

const { hostEnv, run, runOk, firstLine } = require('./run.js');
const { REQUESTS, builds, buildFloors } = require('./floors.js');
const { ROUNDS, RUNS, REFERENCE_RUNS, OUTPUTS, measureTimes, peakMemory, median } = require('./timing.js');
const { measureServer } = require('./server.js');

const TARGET = 1.1; // every plugin median within this ratio of its same-flags floor's
const AIM = 1.05;
const PLAIN_TARGET = 1.0; // and at most its plain floor's, in both output modes
const PLAIN_AIM = 0.95;
const ECHO = REQUESTS.find((request) => request.name === 'echo');

// The interpreter that a script run by "#!/usr/bin/env NAME" gets under the host's plain PATH: the
// interpreter itself, not a version manager's wrapper script in front of it.
function interpreter(name) {
  const found = run('sh', ['-c', 'command -v "$1"', 'sh', name], { env: hostEnv({}), encoding: 'utf8' });
  if (found.status !== 0) fail(`no ${name} on ${hostEnv({}).PATH}`);
  return found.stdout.trim();
}

function machine() {
  const cpu = fs.readFileSync('/proc/cpuinfo', 'utf8').match(/^model name\s*:\s*(.*)$/m)?.[1] ?? os.arch();
  return `${cpu}, ${os.cpus().length} cores; Linux ${os.release()}`;
}

const load = () => fs.readFileSync('/proc/loadavg', 'utf8').split(' ').slice(0, 3).join(' ');
const microseconds = (seconds) => `${(seconds * 1e6).toFixed(0)} µs`;
const kib = (value) => `${value.toLocaleString('en-US')} KiB`;

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

// The table of the plugin's times against its floors, and the ratios that missed their targets.
function timesTable(groups) {
  const header = ['build', 'request'];
  for (const output of OUTPUTS) header.push(`plugin, ${output === 'pipe' ? 'pipe' : '/dev/null'}`, 'vs floor', 'vs plain');
  const rows = [[...header, 'plugin RSS', 'plain RSS', 'plugin faults', 'plain faults']];
  const missed = [];
  const worst = { same: 0, plain: 0 };
  for (const group of groups) {
    const row = [group.build.name, group.request.name];
    for (const output of OUTPUTS) {
      const [plugin, floor, plain] = group.times[output].map(median);
      const label = `${group.build.name} ${group.request.name} (${output})`;
      if (plugin / floor > TARGET) missed.push(`${label} against the same-flags floor`);
      if (plugin / plain > PLAIN_TARGET) missed.push(`${label} against the plain floor`);
      worst.same = Math.max(worst.same, plugin / floor);
      worst.plain = Math.max(worst.plain, plugin / plain);
      row.push(microseconds(plugin), (plugin / floor).toFixed(3), (plugin / plain).toFixed(3));
    }
    const plugin = peakMemory(group.commands[0], group.env);
    const plain = peakMemory(group.commands[2], group.env);
    rows.push([...row, kib(plugin.kib), kib(plain.kib), `${plugin.faults}`, `${plain.faults}`]);
  }
  return { rows, missed, worst };
}

async function main() {
  if (run('tools/check/install-deps', ['bench'], { stdio: 'inherit' }).status !== 0) fail('the packages named above are missing');
  const startLoad = load();
  const startTime = Date.now();
  console.log(`Machine: ${machine()}`);
  console.log(`Load average at start: ${startLoad}`);
  const versions = [
    firstLine(process.env.CXX || 'g++', ['--version']), firstLine('getconf', ['GNU_LIBC_VERSION']),
    `musl ${firstLine('dpkg-query', ['-W', '-f', '${Version}\n', 'musl'])}`, firstLine('hyperfine', ['--version']),
  ];
  console.log(`Tools: ${versions.join('; ')}`);
  const measured = builds(PROGRAM);
  buildFloors(PROGRAM, measured);

  const reference = [
    { name: 'Python', command: [interpreter('python3'), 'tools/measure/echo.py'] },
    { name: 'Node.js', command: [interpreter('node'), 'tools/measure/echo.js'] },
  ];
  for (const script of reference)
    if (!runOk(script.command[0], script.command.slice(1), { env: hostEnv(ECHO.env) }).stdout.equals(measured[0].answers.echo))
      fail(`${script.command.join(' ')} does not write the plugin's echo answer byte for byte`);

  const groups = measureTimes(measured, reference, ECHO);
  const endLoad = load();
  console.log(`\nMedians of ${ROUNDS * RUNS} runs of each command in each output mode, ${ROUNDS} rounds of ${RUNS}`);
  console.log('with the order flipped each round (hyperfine -N). "floor" is the same-flags floor, "plain" the');
  console.log('plain floor; faults are the page faults from execve to exit, peak RSS is VmHWM at exit:');
  const { rows, missed, worst } = timesTable(groups);
  printTable(rows);

  const echoPlugin = median(groups.find((group) => group.build === measured[0] && group.request === ECHO).times.pipe[0]);
  console.log(`\nReference: the same echo answer from a tiny script, ${ROUNDS * REFERENCE_RUNS} runs each in the same rounds:`);
  const referenceRows = [['script', 'request', 'median', 'vs native plugin', 'peak RSS']];
  for (const script of reference) {
    const time = median(script.times);
    referenceRows.push([script.name, 'echo', `${(time * 1e3).toFixed(1)} ms`, `${(time / echoPlugin).toFixed(1)} ×`, kib(peakMemory(script.command, ECHO.env).kib)]);
  }
  printTable(referenceRows);
  printTable(await measureServer(measured, ECHO));

  const seconds = ((Date.now() - startTime) / 1000).toFixed(0);
  console.log(`\nLoad average at start ${startLoad}, after timing ${endLoad}, after the server runs ${load()}; ${seconds} s in all`);
  console.log(
    `Targets: every ratio to the same-flags floor within ${TARGET.toFixed(2)} (aim ${AIM.toFixed(2)}), the highest ` +
      `${worst.same.toFixed(3)}; to the plain floor within ${PLAIN_TARGET.toFixed(2)} (aim ${PLAIN_AIM.toFixed(2)}), ` +
      `the highest ${worst.plain.toFixed(3)}`,
  );
  if (missed.length) console.log(`MISSED the target: ${missed.join(', ')}`);
  process.exit(missed.length ? 1 : 0);
}

main().catch((error) => fail(error.message));
