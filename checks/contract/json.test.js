'use strict';
// The JSON answers: the info record with live node facts, the echo, the unknown action, and the
// string writer's escapes (every answer is checked to be one line of compact JSON in the writer's
// forms, so an escape written another way fails where the value is read back).
const test = require('node:test');
const assert = require('node:assert/strict');
const { run, assertInfo, assertEcho, assertUnknown, jsonAnswer, JSON_HEADER } = require('../support/plugin');

test('info record: the node, the plugin and the raw query string', async (t) => {
  const queries = [
    'action=info',
    'action=',
    'format=json',
    'action=%69nfo',
    'action=info%00x',
    'format=json&action=info&pwd=a+b%20c&x="q"\\',
    'action=info&tab=\t&cr=\r&esc=\x1b&del=\x7f&slash=/',
  ];
  for (const query of queries)
    await t.test(query, () => {
      const { out, status, err } = run({ query });
      assertInfo(out, query);
      assert.equal(status, 0);
      assert.equal(err, '');
    });
});

test('info record: utc is now', () => {
  const before = Date.now();
  const { node } = assertInfo(run({ query: 'action=info' }).out, 'action=info');
  const stamp = Date.parse(node.utc);
  assert.ok(stamp >= Math.floor(before / 1000) * 1000 - 1000 && stamp <= Date.now() + 1000, node.utc);
});

test('echo answers repeat the decoded msg with its byte length', async (t) => {
  const table = [
    ['action=echo', ''],
    ['msg=first&action=echo', 'first'],
    ['action=ech%6F&msg=x', 'x'],
    ['action=echo&msg=a%00b', 'a'],
  ];
  for (const [query, msg] of table)
    await t.test(query, () => assertEcho(run({ query }).out, msg));
});

test('the string writer escapes exactly quote, backslash and control bytes', async (t) => {
  // [raw msg, the bytes it decodes to]; how each is written is checked by the strict reading.
  const table = [
    ['%22', '"'],
    ['%5C', '\\'],
    ['%09%0A%0D', '\t\n\r'],
    ['%01%08%0B%0C%1B%1F', '\x01\x08\x0b\x0c\x1b\x1f'],
    ['%20/%7F', ' /\x7f'],
    ['%80%FF', '\x80\xff'],
    ['%22%22%5C%01', '""\\\x01'],
  ];
  for (const [raw, msg] of table)
    await t.test(raw, () => assertEcho(run({ query: 'action=echo&msg=' + raw }).out, msg));
});

test('any other action is answered with the unknown-action object', async (t) => {
  const table = [
    ['action=Info', 'Info'],
    ['action=INFO', 'INFO'],
    ['action=info2', 'info2'],
    ['action=echo%20', 'echo '],
    ['action=%22%3Cb%3E', '"<b>'],
    ['action=a%0Ab', 'a\nb'],
  ];
  for (const [query, action] of table)
    await t.test(query, () => {
      const { out, status } = run({ query });
      assertUnknown(out, action);
      assert.equal(status, 0);
    });
});

test('the strict reading takes any JSON number as written and holds the text to one compact line', async (t) => {
  // [answer line, what the reading says of it (null: taken)]
  const table = [
    ['{"ok":true,"load15":4.90,"big":1e3,"zero":-0,"small":12.5E-3}', null],
    ['{"ok":true, "n":1}', /whitespace outside a string/],
    ['{"ok":true}\r', /whitespace outside a string/],
    ['{"ok":true,"s":"a\\/b"}', /writer's forms/],
    ['{"ok":true,"n":01}', /not JSON/],
  ];
  for (const [line, fault] of table)
    await t.test(line, () => {
      const read = () => jsonAnswer(`${JSON_HEADER}${line}\n`);
      if (fault === null) assert.deepEqual(read(), JSON.parse(line));
      else assert.throws(read, fault);
    });
});
