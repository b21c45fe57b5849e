'use strict';
// No vacuous pass: a check that could not check anything says so and exits 1, and a wrong command
// line prints the usage on standard error and exits 2; --help prints it on standard output.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { checker, plugin } = require('./checker');

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'contract-checker-'));
test.after(() => fs.rmSync(scratch, { recursive: true, force: true }));
const notExecutable = path.join(scratch, 'plugin_plain');
fs.writeFileSync(notExecutable, '#!/bin/sh\necho hi\n', { mode: 0o644 });
const silent = path.join(scratch, 'plugin_silent');
fs.writeFileSync(silent, '#!/bin/sh\nexit 0\n', { mode: 0o755 });

test('a check with nothing to check fails, saying why', { concurrency: 4 }, async (t) => {
  // [case, arguments, what standard error says]
  const table = [
    ['a missing path', [path.join(scratch, 'nothing-here')], /nothing checked: .*nothing-here: no such file/],
    ['a directory', [scratch], /nothing checked: .*: not a file/],
    ['a file that is not executable', [notExecutable], /nothing checked: .*not executable \(chmod \+x/],
    ['an empty program', [plugin('empty')], /nothing checked: the plugin wrote nothing on standard output in any of its \d+ direct runs/],
    ['a program that answers nothing', ['--rule', 'proc', silent], /nothing checked: the plugin wrote nothing/],
  ];
  await Promise.all(
    table.map(([name, args, said]) =>
      t.test(name, async () => {
        const { status, stderr } = await checker(args);
        assert.equal(status, 1, stderr);
        assert.match(stderr, said);
      }),
    ),
  );
});

test('a wrong command line gets the usage on standard error and exit 2', { concurrency: 4 }, async (t) => {
  const table = [
    ['no plugin', []],
    ['two plugins', [silent, silent]],
    ['an unknown option', ['--fast', silent]],
    ['an unknown format', ['--format', 'xml', silent]],
    ['an unknown rule', ['--rule', 'gate.nothing', silent]],
    ['a time limit that is no number', ['--timeout', 'soon', silent]],
  ];
  await Promise.all(
    table.map(([name, args]) =>
      t.test(name, async () => {
        const { status, stdout, stderr } = await checker(args);
        assert.equal(status, 2);
        assert.equal(stdout, '');
        assert.match(stderr, /^contract: .+\nusage: node contract\.js /);
      }),
    ),
  );
});

test('--help and -h print the usage and check nothing', async () => {
  for (const flag of ['--help', '-h']) {
    const { status, stdout, stderr } = await checker([flag, path.join(scratch, 'nothing-here')]);
    assert.deepEqual([status, stderr], [0, '']);
    assert.match(stdout, /^usage: node contract\.js .*\n[\s\S]*Exit status: 0/);
  }
});
