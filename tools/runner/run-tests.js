#!/usr/bin/env node
'use strict';
// Runs every check of `make test`, one run after another, each even when another failed: the
// black-box suite once per build (the sanitizer twin too, the Windows build under Wine, the ARM
// ones under qemu-user), the checks of the repository's tools and builds, the page in a real
// browser, the layout of the C++ sources and a short fuzzing run. Each run builds what it needs
// first; a build that fails fails its run, and the others go on.
//
// It prints one line per run as the run ends (passed, skipped and failed tests, seconds, and the
// file that holds the run's whole output), then each failure in full: the test's name, where it
// failed and its message. It ends non-zero when a run failed. Everything else a run writes (the
// builds' commands, the TAP of every test, libFuzzer's progress) goes to files in TEST_LOGS.
//
// Packages come from tools/install-deps. Where it may not install them (not root, no apt-get, or
// INSTALL_DEPS=no), a run whose packages are missing is skipped and listed with the command that
// gets them; skipped runs alone do not make the exit status non-zero. Where it may install and a
// package will not install, the runs that need it fail.
//
// Run as `make test` (or `make test RUNS='native browser'` for some runs), which gives it, in the
// environment: MAKE, PROGRAM (the executable's name), FORMATTED (the C++ sources in the layout
// checked), FUZZER (the fuzzer's executable), RUNS and TEST_LOGS.
const { spawn, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { command } = require('../cli.js');

const USAGE = `usage: make test [RUNS='run ...'] [INSTALL_DEPS=no] [TEST_LOGS=folder]
Runs every check, one run after another; the Makefile gives this command MAKE, PROGRAM, FORMATTED,
FUZZER, RUNS and TEST_LOGS in the environment. The runs: format native musl debug win64 arm64 armhf
repository browser fuzz.`;
const { fail, wrong } = command('run-tests', USAGE);
const root = path.resolve(__dirname, '..', '..');
process.chdir(root);

const { MAKE = 'make', PROGRAM, FORMATTED = '', FUZZER, RUNS = '', TEST_LOGS = 'build/test' } = process.env;
if (!PROGRAM || !FUZZER) fail('run it as make test, which gives it PROGRAM and FUZZER');
const FUZZ_SECONDS = 20;
const REPORTER = path.join(__dirname, 'test-summary.js');

// The test files of the folders that exist: the kit's checks, and the plugin's own in test/.
const testFiles = (...folders) =>
  folders.filter((folder) => fs.existsSync(folder)).flatMap((folder) =>
    fs
      .readdirSync(folder)
      .filter((name) => name.endsWith('.test.js'))
      .sort()
      .map((name) => path.join(folder, name)),
  );
const SUITE = testFiles('checks', 'checks/contract', 'test');

// What a run that is not node tests says, from its exit status and its output's lines: its counts,
// and its failure, whole but for lines that say nothing about it.
function formatReport(status, lines, command) {
  const files = command.filter((word) => !word.startsWith('-')).slice(1);
  // A file named in a complaint: "src/x.cpp:12:3: error: code should be clang-formatted".
  const complained = new Set(lines.map((line) => line.match(/^(.+?):\d+:\d+: (?:error|warning):/)?.[1]).filter(Boolean));
  const failed = status === 0 ? 0 : Math.max(complained.size, 1);
  const message = `${lines.join('\n')}\nmake format lays the sources out as this check wants them.`;
  return { counts: { passed: files.length - failed, skipped: 0, failed }, message };
}
function fuzzReport(status, lines) {
  // libFuzzer's progress ("#1024 NEW cov: ...", "\tNEW_FUNC[1/2]: ...") is left out.
  const progress = /^(#\d+\s+(INITED|NEW|REDUCE|pulse|RELOAD|DONE)\b|\tNEW_FUNC)/;
  const message = lines.filter((line) => !progress.test(line)).join('\n');
  return { counts: { passed: status === 0 ? 1 : 0, skipped: 0, failed: status === 0 ? 0 : 1 }, message };
}

// The runs in the order they go. `build` names the make targets a run needs, `tests` the node test
// files it runs (with `env` and under `launcher`), `command` what else it runs and `report` what
// that says. A run needs the packages of tools/install-deps' group of its own name; the black-box
// suite's also those of the group suite, without which it skips the cases that need them.
const RUNS_IN_ORDER = [
  {
    name: 'format', command: ['clang-format', '--dry-run', '--Werror', ...FORMATTED.split(/\s+/).filter(Boolean)],
    report: formatReport,
  },
  { name: 'native', build: ['all'], tests: SUITE },
  { name: 'musl', build: ['musl'], tests: SUITE, env: { PLUGIN_CMD: `./${PROGRAM}-musl`, PLUGIN_PLATFORM: 'linux x86_64 none' } },
  { name: 'debug', build: ['debug'], tests: SUITE, env: { PLUGIN_CMD: `./${PROGRAM}-debug` } },
  { name: 'win64', build: ['win64'], tests: SUITE, launcher: ['tools/runner/with-wine'] },
  {
    name: 'arm64', build: ['arm64'], tests: SUITE,
    env: { PLUGIN_CMD: `qemu-aarch64 ./${PROGRAM}-arm64`, PLUGIN_PLATFORM: 'linux aarch64 none' },
  },
  {
    name: 'armhf', build: ['armhf'], tests: SUITE,
    env: { PLUGIN_CMD: `qemu-arm ./${PROGRAM}-armhf`, PLUGIN_PLATFORM: 'linux arm none' },
  },
  // Once, not per build: the fork command, the stand-in host, what each build links, the release.
  { name: 'repository', build: ['all', 'musl', 'win64'], tests: testFiles('checks/repository', 'checks/contract-checker') },
  { name: 'browser', build: ['all'], tests: testFiles('checks/browser', 'test/browser') },
  {
    name: 'fuzz', build: [FUZZER], command: [MAKE, '--no-print-directory', 'fuzz', `FUZZ_SECONDS=${FUZZ_SECONDS}`],
    report: fuzzReport,
  },
];

/* ==== Packages ==== */

// Installs what the runs need where it may, and returns, per run, what is still missing
// ({ name of the package, command that gets it }), and whether installing was tried: then what is
// missing fails the run, and otherwise it skips it.
function packages(runs) {
  const groups = [...new Set(runs.flatMap((run) => (run.tests === SUITE ? [run.name, 'suite'] : [run.name])))];
  const installed = spawnSync('tools/install-deps', groups, { stdio: 'inherit' });
  const listed = spawnSync('tools/install-deps', ['--missing', ...groups], { encoding: 'utf8' });
  if (listed.status !== 0) fail(`tools/install-deps --missing: ${listed.stderr}`);
  const missing = new Map();
  for (const line of listed.stdout.split('\n').filter(Boolean)) {
    const [group, name, ...command] = line.split(' ');
    missing.set(group, [...(missing.get(group) ?? []), { name, command: command.join(' ') }]);
  }
  return { missing, tried: installed.status !== 3 };
}

/* ==== Running ==== */


// Runs a command with its output appended to the file `log`; resolves to its exit status (or the
// signal that ended it).
function runLogged(command, args, log, env = {}) {
  const output = fs.openSync(log, 'a');
  fs.writeSync(output, `$ ${[command, ...args].join(' ')}\n`);
  return new Promise((resolve) => {
    const child = spawn(command, args, { env: { ...process.env, ...env }, stdio: ['ignore', output, output] });
    child.on('error', (error) => {
      fs.writeSync(output, `${error.message}\n`);
      resolve(127);
    });
    child.on('close', (status, signal) => {
      fs.closeSync(output);
      resolve(status ?? signal);
    });
  });
}

const builds = new Map(); // make targets → { ok, run (the run that built them), output }

// Builds the run's targets once per set of targets; a failed build fails every run that needs it.
async function build(run, log) {
  const targets = run.build.join(' ');
  if (!builds.has(targets)) {
    const start = fs.existsSync(log) ? fs.statSync(log).size : 0;
    const status = await runLogged(MAKE, ['--no-print-directory', ...run.build], log);
    const output = fs.readFileSync(log, 'utf8').slice(start);
    builds.set(targets, { ok: status === 0, run: run.name, output });
  }
  return builds.get(targets);
}

// Runs one run; resolves to its row: { status ('ok', 'FAIL', 'skip'), counts, note, failures }.
async function runOne(run, missing, tried) {
  const log = path.join(TEST_LOGS, `${run.name}.log`);
  const tap = path.join(TEST_LOGS, `${run.name}.tap`);
  const summary = path.join(TEST_LOGS, `${run.name}.json`);
  for (const file of [log, tap, summary]) fs.rmSync(file, { force: true });

  const needs = missing.get(run.name) ?? [];
  if (needs.length > 0) {
    const names = needs.map((need) => need.name).join(', ');
    const commands = [...new Set(needs.map((need) => need.command))].join('; ');
    if (!tried) return { status: 'skip', note: `needs ${names}: ${commands}` };
    const message = `needs ${names}, which could not be installed; the command that gets ${needs.length > 1 ? 'them' : 'it'}: ${commands}`;
    return { status: 'FAIL', note: `could not install ${names}`, failures: [{ name: 'packages', message }] };
  }

  if (run.build) {
    progress(run, 'building');
    const built = await build(run, log);
    if (!built.ok) {
      const message = built.run === run.name ? built.output.trim() : `as shown for ${built.run}`;
      return { status: 'FAIL', note: `the build failed: ${log}`, failures: [{ name: `make ${run.build.join(' ')}`, message }] };
    }
  }

  progress(run, 'running');
  if (run.tests) {
    const reporters = ['--test-reporter=tap', `--test-reporter-destination=${tap}`];
    reporters.push(`--test-reporter=${REPORTER}`, `--test-reporter-destination=${summary}`);
    const [command, ...args] = [...(run.launcher ?? []), process.execPath, '--test', ...reporters, ...run.tests];
    const status = await runLogged(command, args, log, run.env);
    let counts = null;
    try {
      counts = JSON.parse(fs.readFileSync(summary, 'utf8'));
    } catch {
      // The tests never ran, or ended before their report: the log says why.
    }
    if (counts && (status === 0 || counts.failures.length > 0))
      return { status: status === 0 ? 'ok' : 'FAIL', counts, note: tap, failures: counts.failures };
    const why = counts ? 'though no test failed' : 'before it reported its tests';
    const message = `ended with status ${status} ${why}:\n${fs.readFileSync(log, 'utf8').trim()}`;
    return { status: 'FAIL', counts, note: log, failures: [{ name: 'the run', message }] };
  }

  const status = await runLogged(run.command[0], run.command.slice(1), log);
  const lines = fs.readFileSync(log, 'utf8').trim().split('\n').slice(1); // less the command itself
  const { counts, message } = run.report(status, lines, run.command);
  return { status: status === 0 ? 'ok' : 'FAIL', counts, note: log, failures: [{ name: run.command.join(' '), message }] };
}

/* ==== Report ==== */

const COLUMNS = [['run', 11], ['passed', 7], ['skipped', 8], ['failed', 7], ['seconds', 8]];
const tty = process.stdout.isTTY;

// What is running now, on a terminal: a line that the run's own line replaces.
function progress(run, doing) {
  if (tty) process.stdout.write(`\r\x1b[K      ${run.name}: ${doing}...`);
}

function row(cells, note) {
  const [status, ...rest] = cells;
  const line = rest.map((cell, i) => (i === 0 ? cell.padEnd(COLUMNS[i][1]) : cell.padStart(COLUMNS[i][1]))).join(' ');
  return `${status.padEnd(5)} ${line}  ${note}`.trimEnd();
}

function printRow(run, result, seconds) {
  const counts = result.counts ?? {};
  const cell = (value) => (value === undefined ? '-' : `${value}`);
  const time = result.status === 'skip' ? '-' : seconds.toFixed(1);
  if (tty) process.stdout.write('\r\x1b[K');
  console.log(row([result.status, run.name, cell(counts.passed), cell(counts.skipped), cell(counts.failed), time], result.note));
}

function printFailures(failed) {
  for (const { run, failures } of failed)
    for (const failure of failures) {
      const where = failure.line ?? failure.file;
      console.log(`\n---- ${run.name}: ${failure.name}${where ? ` (${where})` : ''}`);
      console.log(failure.message.trimEnd());
    }
}

function duration(seconds) {
  const minutes = Math.floor(seconds / 60);
  return minutes > 0 ? `${minutes} min ${Math.floor(seconds % 60)} s` : `${seconds.toFixed(1)} s`;
}

async function main() {
  const chosen = RUNS.split(/\s+/).filter(Boolean);
  const unknown = chosen.filter((name) => !RUNS_IN_ORDER.some((run) => run.name === name));
  if (unknown.length) wrong(`no run called ${unknown.join(', ')}; the runs: ${RUNS_IN_ORDER.map((run) => run.name).join(' ')}`);
  const runs = chosen.length ? RUNS_IN_ORDER.filter((run) => chosen.includes(run.name)) : RUNS_IN_ORDER;

  const started = Date.now();
  fs.mkdirSync(TEST_LOGS, { recursive: true });
  const { missing, tried } = packages(runs);
  console.log(row(['', ...COLUMNS.map(([name]) => name)], 'output'));
  const results = [];
  for (const run of runs) {
    const start = Date.now();
    const result = await runOne(run, missing, tried);
    printRow(run, result, (Date.now() - start) / 1000);
    results.push({ run, ...result });
  }

  const failed = results.filter((result) => result.status === 'FAIL');
  const skipped = results.filter((result) => result.status === 'skip');
  printFailures(failed);
  const took = duration((Date.now() - started) / 1000);
  const passing = results.length - failed.length - skipped.length;
  const counts = [
    failed.length && `FAILED: ${failed.map((result) => result.run.name).join(', ')}`,
    `${!failed.length && !skipped.length && passing > 1 ? 'all ' : ''}${passing} run${passing === 1 ? '' : 's'} passed`,
    skipped.length && `${skipped.length} skipped (each one's line says what it needs)`,
  ];
  const logs = `Logs: ${TEST_LOGS}/RUN.log (builds, errors), ${TEST_LOGS}/RUN.tap (every test).`;
  console.log(`${failed.length ? '\n' : ''}make test: ${counts.filter(Boolean).join('; ')}; ${took}. ${logs}`);
  process.exit(failed.length ? 1 : 0);
}

main();
