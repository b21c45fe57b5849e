'use strict';
// What make does on other machines than this one: the native build with a compiler or linker that
// is not GNU's (Apple's linker refuses GNU ld's own options), and make test where packages are
// missing (no root, no apt-get) or will not install. Each works in a copy or a folder of its own,
// so that nothing built here is touched.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { identity } = require('../support/plugin');
const { copyForBuild } = require('../../tools/plugin/checkout.js');

const { plugin, versionLine } = identity();
const onPath = (command) => spawnSync('sh', ['-c', 'command -v "$1"', 'sh', command]).status === 0;

// The environment of a make run of its own, not one inside make test's.
const { MAKEFLAGS, MFLAGS, MAKELEVEL, NODE_TEST_CONTEXT, INSTALL_DEPS, RUNS, TEST_LOGS, ...ENV } = process.env;

// A compiler that refuses GNU ld's options, as Apple's linker does, and otherwise is g++.
const REFUSING = `#!/bin/sh
for word in "$@"; do
    case "$word" in
    -Wl,*--as-needed* | -Wl,-z,* | -Wl,*,-z,*) echo "ld: unknown option: $word" >&2; exit 1 ;;
    esac
done
exec g++ "$@"
`;

test('the native build links with any toolchain, with the GNU link options where the linker takes them', async (t) => {
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'toolchain-'));
  t.after(() => fs.rmSync(scratch, { recursive: true, force: true }));
  const refusing = path.join(scratch, 'refusing-g++');
  fs.writeFileSync(refusing, REFUSING, { mode: 0o755 });
  const GNU_OPTIONS = ['-Wl,--as-needed', '-Wl,-z,noseparate-code,-z,norelro'];

  // [toolchain, make variables, commands it needs, the -Wl options of the link]
  const table = [
    ['g++ and GNU ld', [], ['g++'], GNU_OPTIONS],
    ["a linker that refuses GNU ld's options", [`CXX=${refusing}`], ['g++'], []],
    ['clang++ and lld', ['CXX=clang++', 'LDFLAGS=-fuse-ld=lld'], ['clang++', 'ld.lld'], GNU_OPTIONS],
  ];
  for (const [name, variables, needs, options] of table) {
    const absent = needs.find((command) => !onPath(command));
    await t.test(name, { skip: absent && `needs ${absent}` }, () => {
      const folder = fs.mkdtempSync(path.join(scratch, 'copy-'));
      copyForBuild(undefined, folder);
      // The musl build is gcc's whatever CXX is, and takes no LDFLAGS meant for this machine's link.
      const musl = fs.existsSync('/usr/lib/x86_64-linux-musl/musl-gcc.specs') ? [`${plugin}-musl`] : [];
      const made = spawnSync('make', [plugin, ...musl, ...variables], { cwd: folder, env: ENV, encoding: 'utf8' });
      assert.equal(made.status, 0, made.stderr);
      const link = made.stdout.split('\n').find((line) => line.includes(` -o ${plugin} `));
      assert.deepEqual(link.split(/\s+/).filter((word) => word.startsWith('-Wl,')), options, link);
      assert.equal(spawnSync(`./${plugin}`, ['--version'], { cwd: folder, encoding: 'latin1' }).stdout, versionLine);
    });
  }
});

test('make test runs what it can, lists the runs it skipped and why, and fails for what failed', async (t) => {
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'skipped-runs-'));
  t.after(() => fs.rmSync(scratch, { recursive: true, force: true }));
  const LACKS_QEMU = { 'qemu-aarch64': null };
  const BADLY_LAID_OUT = 'echo "src/x.cpp:1:1: error: code should be clang-formatted" >&2; exit 1';
  const UNINSTALLABLE = '[ "$1" = update ] || { echo "E: Unable to locate package" >&2; exit 100; }';
  const notRoot = process.getuid() !== 0 && 'installing is tried as root only';

  // Each case runs make test's format and arm64 runs with the commands of this machine, less those
  // given as null, plus stand-ins given as shell scripts.
  // [case, commands, may install, make test fails, what it prints, skip]
  const table = [
    ['may not install: the run is skipped, with its package and the command that gets it',
      LACKS_QEMU, false, false, [/^skip +arm64 .*needs qemu-user: (sudo )?apt-get install qemu-user$/m, /^ok +format /m, /1 run passed; 1 skipped/]],
    ['a run that fails fails make test, beside a skipped one',
      { ...LACKS_QEMU, 'clang-format': BADLY_LAID_OUT }, false, true, [/^FAIL +format /m, /^src\/x\.cpp:1:1: error: code should be clang-formatted$/m, /^skip +arm64 /m]],
    ['may install, and the package will not: the run fails, naming it',
      { ...LACKS_QEMU, 'apt-get': UNINSTALLABLE }, true, true, [/^FAIL +arm64 /m, /needs qemu-user, which could not be installed.*apt-get install qemu-user$/m], notRoot],
  ];
  for (const [name, commands, mayInstall, fails, prints, skip] of table)
    await t.test(name, { skip }, () => {
      const folder = fs.mkdtempSync(path.join(scratch, 'case-'));
      const bin = path.join(folder, 'bin');
      fs.mkdirSync(bin);
      for (const [command, script] of Object.entries(commands))
        if (script !== null) fs.writeFileSync(path.join(bin, command), `#!/bin/sh\n${script}\n`, { mode: 0o755 });
      for (const directory of ENV.PATH.split(':').filter((entry) => fs.existsSync(entry)))
        for (const command of fs.readdirSync(directory))
          if (!(command in commands) && !fs.existsSync(path.join(bin, command))) fs.symlinkSync(path.join(directory, command), path.join(bin, command));

      const variables = ['RUNS=format arm64', `TEST_LOGS=${path.join(folder, 'logs')}`, ...(mayInstall ? [] : ['INSTALL_DEPS=no'])];
      const made = spawnSync('make', ['-s', 'test', ...variables], { env: { ...ENV, PATH: bin }, encoding: 'utf8' });
      const output = made.stdout + made.stderr;
      assert.equal(made.status !== 0, fails, output);
      for (const pattern of prints) assert.match(output, pattern);
    });
});

test("make test's summary of a node test run: the failures whole, each counted once, and a file that ended early", async (t) => {
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'summary-'));
  t.after(() => fs.rmSync(scratch, { recursive: true, force: true }));
  const HEAD = "const test = require('node:test');\nconst assert = require('node:assert/strict');\n";
  // [case, test file, counts, failures as [name, where, message]]
  const table = [
    ['a table with a failing row',
      "test('table', async (t) => {\n  await t.test('one', () => {});\n  await t.test('two', () => assert.equal(1, 0, 'change src/page/a.html'));\n});\n",
      { passed: 1, skipped: 0, failed: 1 }, [['table > two', 'a.test.js:5', /^change src\/page\/a\.html\n\n1 !== 0/]]],
    ['skipped, to do, and a group that passed',
      "test('a', { skip: 'no tool' }, () => {});\ntest('b', { todo: true }, () => {});\ntest('c', (t) => t.test('d', () => {}));\n",
      { passed: 1, skipped: 2, failed: 0 }, []],
    ['a file that ends before its tests',
      "process.stderr.write('plugin_x is not built: run make first\\n');\nprocess.exit(1);\n",
      { passed: 0, skipped: 0, failed: 1 }, [['the test file', null, /exited with status 1:\nplugin_x is not built: run make first$/]]],
  ];
  for (const [name, body, counts, failures] of table)
    await t.test(name, () => {
      const folder = fs.mkdtempSync(path.join(scratch, 'case-'));
      fs.writeFileSync(path.join(folder, 'a.test.js'), HEAD + body);
      const reporter = path.resolve('tools/runner/test-summary.js');
      const ran = spawnSync(process.execPath, ['--test', `--test-reporter=${reporter}`, 'a.test.js'], { cwd: folder, env: ENV, encoding: 'utf8' });
      const { failures: reported, ...counted } = JSON.parse(ran.stdout);
      assert.deepEqual(counted, counts);
      assert.deepEqual(reported.map((failure) => [failure.name, failure.line]), failures.map(([failed, where]) => [failed, where]));
      failures.forEach(([, , message], i) => assert.match(reported[i].message, message));
    });
});
