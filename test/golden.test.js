'use strict';
// Every build gives the golden answers of test/golden/, byte for byte, live values masked. When an
// answer changes on purpose, `make golden` rewrites them; the diff below shows what changed.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { REQUESTS, fileOf, answer, read, orphans, diff } = require('./golden');

test('every request gives its golden answer', async (t) => {
  for (const request of REQUESTS)
    await t.test(request.name, () => {
      const file = path.relative(process.cwd(), fileOf(request));
      const expected = read(fileOf(request));
      assert.ok(expected !== null, `${file} is missing: run make golden`);
      const actual = answer(request);
      if (actual !== expected)
        assert.fail(`${file} differs (- golden, + this build); run make golden if the change is meant:\n${diff(expected, actual)}`);
    });
});

test('every golden file has its row in the request table', () => {
  assert.deepEqual(orphans(), [], 'make golden removes them');
});
