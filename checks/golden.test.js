'use strict';
// Every build gives the golden answers of test/golden/, byte for byte, live values masked. When an
// answer changes on purpose, `make golden` rewrites them; the diff below shows what changed.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { JSON_HEADER } = require('./support/plugin');
const { REQUESTS, TABLE, build, buildWord, fileOf, defaultBuild, goldenCommand, mask, answer, read, orphans, diff } = require('../tools/author/golden-answers.js');

// What to do when this build's answer is not the golden one.
function advice(request) {
  const word = buildWord(request);
  if (word !== undefined) return `if the change is meant, write the file with ${goldenCommand(word)}`;
  if (defaultBuild())
    return `if the change is meant, run make golden; a member whose value changes from run to run goes in the row's live list in ${TABLE}`;
  const [os] = build();
  return `if every build's answer changes, run make golden; if this build (${build().join(' ')}) answers otherwise ` +
    `on purpose, add perBuild: ['${os}'] to the row '${request.name}' in ${TABLE} and write its file with ${goldenCommand(os)}`;
}

test('every request gives its golden answer', async (t) => {
  for (const request of REQUESTS)
    await t.test(request.name, () => {
      const file = path.relative(process.cwd(), fileOf(request));
      const expected = read(fileOf(request));
      assert.ok(expected !== null, `${file} is missing: write it with ${goldenCommand(buildWord(request))}`);
      const actual = answer(request);
      if (actual !== expected) assert.fail(`${file} differs (- golden, + this build); ${advice(request)}:\n${diff(expected, actual)}`);
    });
});

test('every golden file has its row in the request table', () => {
  const unnamed = orphans();
  const reason = (file) => {
    const [, name, word] = /^(.*)\.([^.]+)\.txt$/.exec(file) ?? [];
    const row = REQUESTS.find((request) => request.name === name);
    return row ? `the row '${name}' names no build '${word}' in its perBuild` : 'no row of the request table names it';
  };
  assert.deepEqual(unnamed, [], unnamed.map((file) => `test/golden/${file}: ${reason(file)} in ${TABLE}; make golden removes it`).join('\n'));
});

test('live members of any JSON type are masked where they stand as members, and only there', async (t) => {
  // [JSON body, live names, masked body, names that stand nowhere]
  const table = [
    ['{"ok":true,"load1":4.90,"load5":1e3,"load15":-0.5E-2}', ['load1', 'load5', 'load15'],
      '{"ok":true,"load1":<load1>,"load5":<load5>,"load15":<load15>}', []],
    ['{"ok":true,"top":[{"pid":1},"x]"],"mem":{"free":{"kb":2}},"tag":"a\\"b","up":true}', ['top', 'mem', 'tag', 'up'],
      '{"ok":true,"top":<top>,"mem":<mem>,"tag":"<tag>","up":<up>}', []],
    ['{"ok":true,"msg":"\\"load1\\":3","load1":2}', ['load1'], '{"ok":true,"msg":"\\"load1\\":3","load1":<load1>}', []],
    ['{"ok":false,"error":"load average unavailable"}', ['load1'], '{"ok":false,"error":"load average unavailable"}', ['load1']],
  ];
  for (const [body, names, masked, missing] of table)
    await t.test(body, () => assert.deepEqual(mask(JSON_HEADER + body, names), { text: JSON_HEADER + masked, missing }));
});

test('a mistake in the request table is named with its row and file', () => {
  assert.throws(() => answer({ name: 'echo', query: 'action=echo&msg=hi', live: ['load15'] }),
    /row 'echo' of the request table in test\/golden\.js names the live member load15, which its answer \(test\/golden\/echo\.txt\) lacks/);
  const files = ['load.txt', 'load.windows.txt', 'load.musl.txt', 'echo.windows.txt', 'README.md'];
  assert.deepEqual(orphans(files, [{ name: 'load', perBuild: ['windows'] }, { name: 'echo' }]), ['load.musl.txt', 'echo.windows.txt']);
});
