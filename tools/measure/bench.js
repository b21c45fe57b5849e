#!/usr/bin/env node
'use strict';
// Shows what one request costs the plugin against two floors, C programs that write the same
// bytes in one write and exit: the same-flags floor, built with the plugin's compiler and link
// flags, and the plain floor, built with the system's defaults (gcc -O2 -s; musl-gcc -O2 -static
// -s). The host starts the plugin once per request, so the plugin's cost is its process's cost:
// against the same-flags floor the plugin's own work shows, against the plain floor what the
// build as a whole costs next to the plainest program there is. Run as `make bench`, which builds
// the executables first.
//
// For each build (native: dynamic against glibc; musl: static) and each request (the page, the
// info record, an echo, a 401, --meta) it
//   1. captures the plugin's answer and compiles it into two floor programs of its own
//      (tools/measure/floor.c, built as build/bench/BUILD/floor-REQUEST and plain-REQUEST), then checks
//      that both write the same bytes;
//   2. checks the plugin under valgrind (no heap allocation) and strace (no file opened beyond
//      what the floor's loader opens, none at all for musl; the answer in a single write);
//   3. times plugin and floors with hyperfine (-N, no shell), once with the output read through a
//      pipe, as the host reads it, and once sent to /dev/null, in ROUNDS rounds of RUNS runs each,
//      the order flipped every round and every request visited in every round, so that drift in
//      the machine's load hits all alike; the medians are taken over all rounds together;
//   4. measures the peak resident memory and the page faults of each (tools/measure/peak-rss.c: VmHWM
//      and the faults taken from execve to exit, the highest of three runs);
//   5. serves the echo answer of each build through lighttpd (mod_cgi) on the loopback interface
//      and counts the requests per second that ab gets through, one at a time and 16 at once;
// and times the same echo answer from a tiny Python and a tiny Node.js script for reference.
// It prints the tables and ends non-zero when a check fails or a ratio misses its target.
//
// Environment: CXX, CXXFLAGS, LDFLAGS, MUSL_CXX, MUSL_SPECS, NATIVE_LINK and MUSL_LINK as the
// Makefile has them; BENCH_ROUNDS and BENCH_RUNS (default 100 rounds of 6 runs: 600 runs of each
// command in each output mode); BENCH_NATIVE and BENCH_MUSL to measure other executables than
// ./plugin_NAME and ./plugin_NAME-musl (a candidate change); BENCH_SERVER_REQUESTS (default 4000
// per run).
//
// A Node.js script rather than a shell script: it reads hyperfine's JSON exports, takes medians
// and compares answers byte for byte without jq or awk, and node is already needed by the tests.
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { startLighttpd } = require('./lighttpd');

const root = path.resolve(__dirname, '..', '..');
process.chdir(root);
const OUT = 'build/bench';
const { PROGRAM } = process.env;
if (!PROGRAM) {
  process.stderr.write('bench: run it as make bench\n');
  process.exit(2);
}

const TARGET = 1.1; // every plugin median within this ratio of its same-flags floor's
const AIM = 1.05;
const PLAIN_TARGET = 1.0; // and at most its plain floor's, in both output modes
const PLAIN_AIM = 0.95;
// Short rounds: the load of a shared machine changes within a fraction of a second, and each round
// puts plugin and floor side by side within a few milliseconds of each other.
const ROUNDS = Number(process.env.BENCH_ROUNDS || 100);
const RUNS = Number(process.env.BENCH_RUNS || 6);
const WARMUP = 2;
const REFERENCE_RUNS = 1; // per round, for the slow Python and Node.js scripts
const RSS_SAMPLES = 3;
const OUTPUTS = ['pipe', 'null']; // hyperfine --output: read through a pipe, or sent to /dev/null
const SERVER_REQUESTS = Number(process.env.BENCH_SERVER_REQUESTS || 4000);
const SERVER_CONCURRENCY = [1, 16];

const CXX = process.env.CXX || 'g++';
const CXXFLAGS = words(process.env.CXXFLAGS ?? '-O2');
const LDFLAGS = words(process.env.LDFLAGS ?? '');
const MUSL_CXX = process.env.MUSL_CXX || 'g++';
const MUSL_SPECS = process.env.MUSL_SPECS || '/usr/lib/x86_64-linux-musl/musl-gcc.specs';

// The compilers and link flags of the Makefile's native and musl builds, and the plain floors'
// build commands.
const BUILDS = [
  {
    name: 'native',
    executable: process.env.BENCH_NATIVE || `./${PROGRAM}`,
    compiler: CXX,
    link: [...words(process.env.NATIVE_LINK ?? '-Wl,--as-needed'), ...LDFLAGS],
    plain: ['gcc', '-O2', '-s'],
  },
  {
    name: 'musl',
    executable: process.env.BENCH_MUSL || `./${PROGRAM}-musl`,
    compiler: MUSL_CXX,
    link: ['-specs', MUSL_SPECS, ...words(process.env.MUSL_LINK ?? '-static -s')],
    plain: ['musl-gcc', '-O2', '-static', '-s'],
  },
];

const REQUESTS = [
  { name: 'page', env: { QUERY_STRING: '' } },
  { name: 'info', env: { QUERY_STRING: 'action=info' }, live: 'pid and utc' },
  { name: 'echo', env: { QUERY_STRING: 'action=echo&msg=hello%2C+world' } },
  { name: '401', env: { BOT_PASSWORD: 's3cret', QUERY_STRING: 'action=info' } },
  { name: '--meta', env: {}, args: ['--meta'] },
];
const ECHO = REQUESTS.find((request) => request.name === 'echo');

// System calls that hand a process memory: a heap that grows shows up as one of these.
const MEMORY_CALLS = new Set(['brk', 'mmap', 'mremap']);
const OPEN_CALLS = new Set(['open', 'openat', 'openat2', 'creat']);
const WRITE_CALLS = new Set(['write', 'writev', 'pwrite64', 'pwritev', 'pwritev2', 'sendfile']);

let failures = 0;
const servers = []; // lighttpd servers started here, stopped however the run ends

function words(text) {
  return text.split(/\s+/).filter(Boolean);
}

function fail(message) {
  servers.forEach((server) => server.stop());
  process.stderr.write(`bench: ${message}\n`);
  process.exit(1);
}

// Reports one check; a failed one makes the run end non-zero.
function check(ok, text) {
  console.log(`  ${ok ? 'ok  ' : 'FAIL'} ${text}`);
  if (!ok) failures++;
}

// The environment the host gives a plugin: the request's variables and a plain PATH.
function hostEnv(requestEnv) {
  return { PATH: '/usr/local/bin:/usr/bin:/bin', ...requestEnv };
}

function run(command, args, options = {}) {
  const result = spawnSync(command, args, { maxBuffer: 1 << 26, ...options });
  if (result.error) fail(`${command}: ${result.error.message}`);
  return result;
}

function runOk(command, args, options) {
  const result = run(command, args, options);
  if (result.status !== 0) fail(`${command} ${args.join(' ')}: ${result.stderr}`);
  return result;
}

function firstLine(command, args) {
  const result = spawnSync(command, args, { encoding: 'utf8' });
  return result.status === 0 ? result.stdout.split('\n')[0].trim() : 'unknown';
}

/* ==== Tools ==== */

// What the run needs, from tools/install-deps, the one place that knows the packages: it installs
// what is missing where it may, and otherwise names each missing package and the command that
// gets it.
function requireTools() {
  if (run('tools/install-deps', ['bench'], { stdio: 'inherit' }).status !== 0) fail('the packages named above are missing');
}

// The interpreter that a script starting with "#!/usr/bin/env NAME" gets under the host's plain
// PATH: the interpreter itself, not a version manager's wrapper script in front of it.
function interpreter(name) {
  const found = run('sh', ['-c', 'command -v "$1"', 'sh', name], { env: hostEnv({}), encoding: 'utf8' });
  if (found.status !== 0) fail(`no ${name} on ${hostEnv({}).PATH}`);
  return found.stdout.trim();
}

/* ==== Floors ==== */

function compileC(compiler, source, output, flags) {
  runOk(compiler, ['-x', 'c', ...CXXFLAGS, '-o', output, source, ...flags]);
}

// Captures each answer of each build and compiles the two floors that write it.
function buildFloors() {
  fs.mkdirSync(OUT, { recursive: true });
  compileC(CXX, 'tools/measure/peak-rss.c', `${OUT}/peak-rss`, LDFLAGS);
  for (const build of BUILDS) {
    if (!fs.existsSync(build.executable)) fail(`${build.executable} is missing: run make bench`);
    fs.mkdirSync(`${OUT}/${build.name}`, { recursive: true });
    // A copy is what runs, so that a rebuild while the bench runs changes nothing it measures.
    build.program = `./${OUT}/${build.name}/${PROGRAM}`;
    fs.copyFileSync(build.executable, build.program);
    build.answers = {};
    build.floors = {};
    build.plainFloors = {};
    for (const request of REQUESTS) {
      const answer = runOk(build.program, request.args ?? [], { env: hostEnv(request.env) }).stdout;
      const slug = request.name.replace(/^-+/, '');
      const bytes = path.resolve(`${OUT}/${build.name}/${slug}.inc`);
      fs.writeFileSync(bytes, [...answer].join(',') + '\n');
      const floor = `./${OUT}/${build.name}/floor-${slug}`;
      compileC(build.compiler, 'tools/measure/floor.c', floor, [`-DANSWER="${bytes}"`, ...build.link]);
      const plain = `./${OUT}/${build.name}/plain-${slug}`;
      const [compiler, ...flags] = build.plain;
      runOk(compiler, [...flags, `-DANSWER="${bytes}"`, '-o', plain, 'tools/measure/floor.c']);
      build.answers[request.name] = answer;
      build.floors[request.name] = floor;
      build.plainFloors[request.name] = plain;
    }
  }
}

/* ==== Checks ==== */

function checkAnswers() {
  console.log('Answers');
  for (const build of BUILDS)
    for (const request of REQUESTS) {
      const answer = build.answers[request.name];
      const floor = runOk(build.floors[request.name], []).stdout;
      const plain = runOk(build.plainFloors[request.name], []).stdout;
      const again = runOk(build.program, request.args ?? [], { env: hostEnv(request.env) }).stdout;
      const label = `${build.name} ${request.name}: ${answer.length} bytes`;
      check(floor.equals(answer) && plain.equals(answer), `${label}, both floors write the plugin's captured answer byte for byte`);
      if (request.live)
        console.log(`       (live ${request.live}: a second plugin run wrote ${again.length} bytes)`);
      else check(again.equals(answer), `${label}, a second plugin run writes the same bytes`);
    }
}

// The system calls of one run, one { name, text, result } per call; `calls.output` holds what the
// run wrote (an answer with a live pid need not be as long as the one captured before).
function traceCalls(command, args, env) {
  const log = `${OUT}/strace.log`;
  const { stdout } = runOk('strace', ['-qq', '-e', 'signal=none', '-o', log, '--', command, ...args], {
    env: hostEnv(env),
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  const calls = fs
    .readFileSync(log, 'utf8')
    .split('\n')
    .filter(Boolean)
    .map((text) => ({
      name: text.match(/^(\w+)\(/)?.[1],
      text,
      result: text.match(/= (-?\d+)[^=]*$/)?.[1],
    }));
  calls.output = stdout;
  return calls;
}

function openedPaths(calls) {
  return calls.filter((call) => OPEN_CALLS.has(call.name)).map((call) => call.text.match(/"([^"]*)"/)?.[1]);
}

// The calls of `calls` that `floor` does not make, by name, as a multiset.
function extraCalls(calls, floor) {
  const left = floor.map((call) => call.name);
  return calls
    .map((call) => call.name)
    .filter((name) => {
      const at = left.indexOf(name);
      if (at < 0) return true;
      left.splice(at, 1);
      return false;
    });
}

function checkSystemCalls() {
  console.log('System calls (strace), each answer against its floor');
  for (const build of BUILDS)
    for (const request of REQUESTS) {
      const label = `${build.name} ${request.name}:`;
      const calls = traceCalls(build.program, request.args ?? [], request.env);
      const floor = traceCalls(build.floors[request.name], [], request.env);
      const extra = extraCalls(calls, floor).filter((name) => name !== 'execve');

      const opened = openedPaths(calls);
      if (build.name === 'musl') check(opened.length === 0, `${label} no file opened at all`);
      else {
        const loader = openedPaths(floor);
        check(
          JSON.stringify(opened) === JSON.stringify(loader),
          `${label} opens only what the floor's loader opens (${opened.join(', ') || 'nothing'})`,
        );
      }

      const writes = calls.filter((call) => WRITE_CALLS.has(call.name) && /^\w+\(1,/.test(call.text));
      const sizes = writes.map((call) => `${call.name} of ${call.result} bytes`).join(', ');
      check(
        writes.length === 1 && Number(writes[0].result) === calls.output.length,
        `${label} the answer in ${writes.length} write${writes.length === 1 ? '' : 's'} (${sizes})`,
      );

      // A static musl program asks the kernel for no memory at all unless it uses a heap; a glibc
      // one does through its loader, as the floor does, so there it is the calls beyond the floor's.
      const memory = (build.name === 'musl' ? calls.map((call) => call.name) : extra).filter((name) =>
        MEMORY_CALLS.has(name),
      );
      check(
        memory.length === 0,
        `${label} no memory asked of the kernel${build.name === 'musl' ? '' : ' beyond the floor'}` +
          (memory.length ? ` (${memory.join(', ')})` : ''),
      );
      console.log(
        `       ${calls.length} system calls, the floor ${floor.length}; beyond the floor's: ${extra.join(', ') || 'none'}`,
      );
    }
}

// valgrind replaces malloc in a dynamic program only; a static musl program has no malloc for it
// to see, which is why the musl build is held to "no brk or mmap at all" above instead.
function checkHeap() {
  console.log('Heap (valgrind), native build');
  const build = BUILDS.find((candidate) => candidate.name === 'native');
  for (const request of REQUESTS) {
    const log = `${OUT}/valgrind.log`;
    const args = [`--log-file=${log}`, build.program, ...(request.args ?? [])];
    runOk('valgrind', args, { env: hostEnv(request.env) });
    const usage = fs.readFileSync(log, 'utf8').match(/total heap usage: ([\d,]+) allocs, .* allocated/);
    const text = usage ? usage[0] : 'no heap summary from valgrind';
    check(usage !== null && usage[1] === '0', `native ${request.name}: ${text}`);
  }
}

/* ==== Measurements ==== */

// Runs hyperfine once over `commands` (argument lists) in the request's environment, with their
// output read through a pipe or sent to /dev/null, and returns each command's wall-clock times in
// seconds.
function hyperfine(env, commands, output, runs, warmup) {
  const file = `${OUT}/hyperfine.json`;
  const quote = (word) => `'${word.replace(/'/g, `'\\''`)}'`;
  const options = ['-N', '--style', 'none', '--output', output, '--export-json', file];
  const counts = ['--warmup', `${warmup}`, '--runs', `${runs}`];
  const lines = commands.map((command) => command.map(quote).join(' '));
  const result = run('hyperfine', [...options, ...counts, ...lines], {
    env: hostEnv(env),
    stdio: ['ignore', 'ignore', 'pipe'],
  });
  if (result.status !== 0) fail(`hyperfine: ${result.stderr}`);
  return JSON.parse(fs.readFileSync(file, 'utf8')).results.map((measured, i) => {
    if (measured.exit_codes.some((code) => code !== 0)) fail(`${lines[i]} exited non-zero`);
    return measured.times;
  });
}

// Every request of every build in every round and both output modes, plugin and floors side by
// side, the order flipped each round; the reference scripts once per round.
function measureTimes(reference) {
  const groups = BUILDS.flatMap((build) =>
    REQUESTS.map((request) => ({
      env: request.env,
      // plugin, same-flags floor, plain floor
      commands: [
        [build.program, ...(request.args ?? [])],
        [build.floors[request.name]],
        [build.plainFloors[request.name]],
      ],
      times: Object.fromEntries(OUTPUTS.map((output) => [output, [[], [], []]])),
      build,
      request,
    })),
  );
  const scripts = {
    env: ECHO.env,
    commands: reference.map((script) => script.command),
    times: { pipe: reference.map(() => []) },
  };
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

// The peak resident memory in KiB of a command and the page faults it takes, the highest of a few
// runs each.
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

/* ==== A real CGI server ==== */

// lighttpd serving the build's copy at /plugin (tools/lighttpd.js); resolves to the server and the
// address of the echo answer.
async function startServer(build) {
  const directory = path.resolve(`${OUT}/${build.name}/server`);
  fs.mkdirSync(directory, { recursive: true });
  const server = await startLighttpd({ directory, route: '/plugin', executable: path.resolve(build.program) });
  servers.push(server);
  return { server, url: `http://127.0.0.1:${server.port}/plugin?${ECHO.env.QUERY_STRING}` };
}

// Requests per second that ab gets through lighttpd to each build's echo answer, at each
// concurrency, the builds taking turns; a failed request fails the check.
async function measureServer() {
  console.log(`\nThrough lighttpd (mod_cgi) and ab, ${SERVER_REQUESTS} echo requests a run on 127.0.0.1`);
  const rows = [['build', 'request', ...SERVER_CONCURRENCY.map((c) => `requests/s, ${c} at once`)]];
  const entries = [];
  for (const build of BUILDS) entries.push({ build, ...(await startServer(build)), rates: [] });
  try {
    for (const concurrency of SERVER_CONCURRENCY)
      for (const entry of entries) {
        const args = ['-q', '-n', `${SERVER_REQUESTS}`, '-c', `${concurrency}`, entry.url];
        const report = runOk('ab', args, { encoding: 'utf8' }).stdout;
        const rate = Number(report.match(/Requests per second:\s+([\d.]+)/)?.[1]);
        const failed = Number(report.match(/Failed requests:\s+(\d+)/)?.[1]);
        const non2xx = Number(report.match(/Non-2xx responses:\s+(\d+)/)?.[1] ?? 0);
        check(failed === 0 && non2xx === 0 && rate > 0, `${entry.build.name}, ${concurrency} at once: ${failed} failed, ${non2xx} not 200`);
        entry.rates.push(rate);
      }
  } finally {
    await Promise.all(entries.map((entry) => entry.server.stop()));
  }
  entries.forEach((entry) => rows.push([entry.build.name, 'echo', ...entry.rates.map((rate) => rate.toFixed(0))]));
  return rows;
}

/* ==== Report ==== */

function machine() {
  const cpuinfo = fs.readFileSync('/proc/cpuinfo', 'utf8');
  const cpu = cpuinfo.match(/^model name\s*:\s*(.*)$/m)?.[1] ?? os.arch();
  return `${cpu}, ${os.cpus().length} cores; Linux ${os.release()}`;
}

function load() {
  return fs.readFileSync('/proc/loadavg', 'utf8').split(' ').slice(0, 3).join(' ');
}

const microseconds = (seconds) => `${(seconds * 1e6).toFixed(0)} µs`;
const kib = (value) => `${value.toLocaleString('en-US')} KiB`;

function printTable(rows) {
  const widths = rows[0].map((_, column) => Math.max(...rows.map((row) => row[column].length)));
  // Markdown, ready for the README: the first two columns are names, the others numbers.
  const pad = (cell, i) => (i < 2 ? cell.padEnd(widths[i]) : cell.padStart(widths[i]));
  const rule = (width, i) => (i < 2 ? `:${'-'.repeat(width + 1)}` : `${'-'.repeat(width + 1)}:`);
  const line = (row) => `| ${row.map(pad).join(' | ')} |`;
  console.log(line(rows[0]));
  console.log(`|${widths.map(rule).join('|')}|`);
  rows.slice(1).forEach((row) => console.log(line(row)));
}

async function main() {
  requireTools();
  const startLoad = load();
  const startTime = Date.now();
  console.log(`Machine: ${machine()}`);
  console.log(`Load average at start: ${startLoad}`);
  const glibc = firstLine('getconf', ['GNU_LIBC_VERSION']);
  const musl = `musl ${firstLine('dpkg-query', ['-W', '-f', '${Version}\n', 'musl'])}`;
  console.log(`Tools: ${firstLine(CXX, ['--version'])}; ${glibc}; ${musl}; ${firstLine('hyperfine', ['--version'])}`);
  buildFloors();
  checkAnswers();
  checkSystemCalls();
  checkHeap();

  const reference = [
    { name: 'Python', command: [interpreter('python3'), 'tools/measure/echo.py'] },
    { name: 'Node.js', command: [interpreter('node'), 'tools/measure/echo.js'] },
  ];
  console.log('Reference scripts');
  const nativeEcho = BUILDS[0].answers.echo;
  for (const script of reference) {
    const answer = runOk(script.command[0], script.command.slice(1), { env: hostEnv(ECHO.env) }).stdout;
    const text = `${script.name} (${script.command.join(' ')}) writes the plugin's echo answer byte for byte`;
    check(answer.equals(nativeEcho), text);
  }

  const groups = measureTimes(reference);
  const endLoad = load();
  console.log(`\nMedians of ${ROUNDS * RUNS} runs of each command in each output mode, ${ROUNDS} rounds of ${RUNS}`);
  console.log('with the order flipped each round (hyperfine -N). "floor" is the same-flags floor, "plain" the');
  console.log('plain floor; faults are the page faults from execve to exit, peak RSS is VmHWM at exit:');
  const header = ['build', 'request'];
  for (const output of OUTPUTS) {
    const to = output === 'pipe' ? 'pipe' : '/dev/null';
    header.push(`plugin, ${to}`, 'vs floor', 'vs plain');
  }
  header.push('plugin RSS', 'plain RSS', 'plugin faults', 'plain faults');
  const rows = [header];
  const missed = [];
  let worstSame = 0;
  let worstPlain = 0;
  for (const group of groups) {
    const row = [group.build.name, group.request.name];
    for (const output of OUTPUTS) {
      const [plugin, floor, plain] = group.times[output].map(median);
      const label = `${group.build.name} ${group.request.name} (${output})`;
      if (plugin / floor > TARGET) missed.push(`${label} against the same-flags floor`);
      if (plugin / plain > PLAIN_TARGET) missed.push(`${label} against the plain floor`);
      worstSame = Math.max(worstSame, plugin / floor);
      worstPlain = Math.max(worstPlain, plugin / plain);
      row.push(microseconds(plugin), (plugin / floor).toFixed(3), (plugin / plain).toFixed(3));
    }
    const plugin = peakMemory(group.commands[0], group.env);
    const plain = peakMemory(group.commands[2], group.env);
    row.push(kib(plugin.kib), kib(plain.kib), `${plugin.faults}`, `${plain.faults}`);
    rows.push(row);
  }
  printTable(rows);

  const nativeEchoGroup = groups.find((group) => group.build.name === 'native' && group.request === ECHO);
  const echoPlugin = median(nativeEchoGroup.times.pipe[0]);
  console.log(`\nReference: the same echo answer from a tiny script, ${ROUNDS * REFERENCE_RUNS} runs each in the same rounds:`);
  const referenceRows = [['script', 'request', 'median', 'vs native plugin', 'peak RSS']];
  for (const script of reference) {
    const time = median(script.times);
    const rss = kib(peakMemory(script.command, ECHO.env).kib);
    referenceRows.push([script.name, 'echo', `${(time * 1e3).toFixed(1)} ms`, `${(time / echoPlugin).toFixed(1)} ×`, rss]);
  }
  printTable(referenceRows);

  printTable(await measureServer());

  const seconds = ((Date.now() - startTime) / 1000).toFixed(0);
  console.log(`\nLoad average at start ${startLoad}, after timing ${endLoad}, after the server runs ${load()}; ${seconds} s in all`);
  console.log(
    `Targets: every ratio to the same-flags floor within ${TARGET.toFixed(2)} (aim ${AIM.toFixed(2)}), the highest ` +
      `${worstSame.toFixed(3)}; to the plain floor within ${PLAIN_TARGET.toFixed(2)} (aim ${PLAIN_AIM.toFixed(2)}), ` +
      `the highest ${worstPlain.toFixed(3)}`,
  );
  if (missed.length) console.log(`MISSED the target: ${missed.join(', ')}`);
  if (failures) console.log(`${failures} check${failures === 1 ? '' : 's'} FAILED`);
  process.exit(missed.length || failures ? 1 : 0);
}

main().catch((error) => fail(error.message));
