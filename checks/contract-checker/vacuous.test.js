'use strict';
// No vacuous pass: a check that could not check anything says so and exits 1, and a wrong command
// line prints the usage on standard error and exits 2; --help prints it on standard output.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { ROOT, checker, plugin } = require('./checker');

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'contract-checker-'));
test.after(() => fs.rmSync(scratch, { recursive: true, force: true }));
const notExecutable = path.join(scratch, 'plugin_plain');
fs.writeFileSync(notExecutable, '#!/bin/sh\necho hi\n', { mode: 0o644 });
const silent = path.join(scratch, 'plugin_silent');
fs.writeFileSync(silent, '#!/bin/sh\nexit 0\n', { mode: 0o755 });
// Files that cannot start: [file name, its bytes]
const unstartable = (name, text) => {
  const file = path.join(scratch, name);
  fs.writeFileSync(file, text, { mode: 0o755 });
  return file;
};
const noInterpreter = unstartable('plugin_perl', '#!/usr/bin/perl-not-installed\nprint "x";\n');
const carriageReturn = unstartable('plugin_crlf', '#!/bin/sh\r\necho hi\r\n');
const noLine = unstartable('plugin_nothing_to_start_it', 'echo hi\n');
const envMissing = unstartable('plugin_env', '#!/usr/bin/env python-not-installed\nprint(1)\n');
// An ELF header for a machine no system here starts (e_machine 0x1234), and nothing after it.
const foreignElf = Buffer.alloc(64);
foreignElf.write('\x7fELF\x02\x01\x01', 'latin1');
foreignElf.writeUInt16LE(0x1234, 18);
const foreign = unstartable('plugin_foreign', foreignElf);
const quoted = path.join(scratch, `it's "a" $HOME`, 'plugin');

test('a check with nothing to check fails, saying why', { concurrency: 4 }, async (t) => {
  // [case, arguments, what standard error says]
  const table = [
    ['a missing path', [path.join(scratch, 'nothing-here')], /nothing checked: .*nothing-here: no such file/],
    ['a directory', [scratch], /nothing checked: .*: a directory, not a program/],
    ['a file that is not executable', [notExecutable], /nothing checked: .*not executable \(chmod \+x/],
    ['an empty program', [plugin('empty')], /nothing checked: the plugin wrote nothing on standard output in any of its \d+ direct runs/],
    ['a program that answers nothing', ['--rule', 'proc', silent], /nothing checked: the plugin wrote nothing/],
    ['an interpreter not installed', [noInterpreter], /plugin_perl: its #! line names the interpreter \/usr\/bin\/perl-not-installed, which is not installed\n$/],
    ['a #! line ending in a carriage return', [carriageReturn], /plugin_crlf: its #! line ends in a carriage return \(the file has Windows line ends\)/],
    ['a script without a #! line', [noLine], /plugin_nothing_to_start_it: a file of text without a #! line/],
    ['an interpreter env does not find', [envMissing], /plugin_env: its #! line runs python-not-installed through env, and there is no python-not-installed on the PATH/],
    ['a program for another machine', [foreign], /plugin_foreign: a program for machine 4660, which this \S+ system does not start/],
  ];
  await Promise.all(
    table.map(([name, args, said]) =>
      t.test(name, async () => {
        const { status, stderr } = await checker(args);
        assert.equal(status, 1, stderr);
        assert.match(stderr, said);
        assert.equal(stderr.trimEnd().split('\n').length, 1, `said more than once: ${stderr}`);
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

test('make contract takes STRICT as 1 or 0, and the path as typed', async (t) => {
  // [case, make's variables, the checker's exit status, what standard error says]
  const table = [
    ['STRICT=no is a usage error', { STRICT: 'no', PLUGIN: silent }, 2, /^make contract: STRICT is 1 \(on\) or 0 \(off\), not "no"$/m],
    ['a path with quotes and a dollar sign', { STRICT: '1', PLUGIN: quoted }, 1, /^contract: nothing checked: .*\/it's "a" \$HOME\/plugin: no such file$/m],
  ];
  for (const [name, variables, expected, said] of table)
    await t.test(name, () => {
      const made = spawnSync('make', ['-s', 'contract', ...Object.entries(variables).map(([key, value]) => `${key}=${value}`)], { cwd: ROOT, encoding: 'utf8' });
      // make ends 2 when a recipe fails, and names the recipe's own exit status.
      assert.match(made.stderr, new RegExp(`\\] Error ${expected}\n$`));
      assert.match(made.stderr, said);
    });
});
