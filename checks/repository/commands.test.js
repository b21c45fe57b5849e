'use strict';
// The kit's commands behave as one: each file in tools/ that starts with #! can be run, answers
// --help and -h with its usage on standard output and exit status 0 before it starts any work, and
// a wrong option with its usage on standard error and exit status 2.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { REPOSITORY } = require('../support/plugin');

const commands = spawnSync('git', ['ls-files', 'tools'], { cwd: REPOSITORY, encoding: 'utf8' }).stdout.split('\n')
  .filter((file) => file && fs.readFileSync(path.join(REPOSITORY, file)).subarray(0, 2).toString() === '#!');
// Long enough for Node.js to start on a busy machine; far too short for any work to have begun.
const AT_ONCE_MS = 5000;

test('every command of the kit answers --help at once, and refuses a wrong option with its usage', async (t) => {
  assert.ok(commands.length >= 10, commands.join(' '));
  for (const file of commands)
    await t.test(file, () => {
      fs.accessSync(path.join(REPOSITORY, file), fs.constants.X_OK);
      const run = (...args) => spawnSync(path.join(REPOSITORY, file), args, { cwd: REPOSITORY, encoding: 'utf8', timeout: AT_ONCE_MS });
      for (const help of ['--help', '-h']) {
        const asked = run(help);
        assert.deepEqual([asked.status, asked.stderr], [0, ''], `${file} ${help}`);
        assert.match(asked.stdout, /^usage: /);
      }
      const wrong = run('--no-such-option');
      assert.deepEqual([wrong.status, wrong.stdout], [2, ''], `${file} --no-such-option`);
      assert.match(wrong.stderr, /^\S+: .*\n(.*\n)*usage: /);
    });
});
