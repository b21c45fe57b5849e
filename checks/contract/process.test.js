'use strict';
// What holds for the process as a whole: no heap use, no file opened, one write per answer. (Long
// answers arriving whole, and a host that stops reading, are in hostile.test.js.)
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const { command, underLauncher, sanitized, run } = require('../support/plugin');
const { systemCalls, answerCalls } = require('../../tools/plugin/trace.js');

const native = !underLauncher;
// valgrind cannot run a sanitizer build, and what its runtime opens is not the program's doing.
const has = (tool) => spawnSync('sh', ['-c', `command -v ${tool}`]).status === 0;

// One request of each kind: [name, environment].
const requests = [
  ['page', { QUERY_STRING: '' }],
  ['info', { QUERY_STRING: 'action=info' }],
  ['echo', { QUERY_STRING: 'action=echo&msg=hello' }],
  ['refusal', { QUERY_STRING: 'action=info', BOT_PASSWORD: 'x' }],
  ['meta', { DV_PLUGIN_META: '' }],
];

test('no request touches the heap', { skip: (!native || sanitized || !has('valgrind')) && 'needs valgrind and a native build without sanitizers' }, async (t) => {
  for (const [name, env] of requests)
    await t.test(name, () => {
      const result = spawnSync('valgrind', ['--error-exitcode=99', command], { env, timeout: 60000 });
      const report = result.stderr.toString();
      assert.equal(result.status, 0, report);
      assert.match(report, /total heap usage: 0 allocs, 0 frees, 0 bytes allocated/);
      assert.match(report, /ERROR SUMMARY: 0 errors/);
    });
});

test('each answer leaves in one write, and no file is opened once the program runs', { skip: (!native || sanitized || !has('strace')) && 'needs strace and a native build without sanitizers' }, async (t) => {
  for (const [name, env] of requests)
    await t.test(name, () => {
      const expectedBytes = run({ env }).stdout.length;
      // A static build asks the kernel for no memory at all unless it has a heap, which valgrind
      // cannot see in it; a dynamic one's loader maps the C library, and valgrind checks its heap.
      const { writes, opened, memory } = answerCalls(systemCalls([command], env));
      assert.deepEqual(memory, [], 'a static build that asks the kernel for memory');
      assert.equal(writes.length, 1, writes.join('\n'));
      assert.match(writes[0], new RegExp(`= ${expectedBytes}$`));
      assert.deepEqual(opened, []);
    });
});
