'use strict';
// The JSON answers: the info record with live node facts, the echo, the unknown action, and the
// string writer's escapes.
const test = require('node:test');
const assert = require('node:assert/strict');
const { run, expectedInfo, echoAnswer, unknownAnswer, JSON_HEADER } = require('./plugin');

test('info record: the exact answer, live values aside', async (t) => {
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
      const [expected] = expectedInfo(out, query);
      assert.equal(out, expected);
      assert.equal(status, 0);
      assert.equal(err, '');
    });
});

test('info record: pid is this process, utc is now, the line parses', () => {
  const before = Date.now();
  const { out } = run({ query: 'action=info' });
  const [expected, pid, utc] = expectedInfo(out, 'action=info');
  assert.equal(out, expected);
  assert.ok(pid > 0);
  const stamp = Date.parse(utc);
  assert.ok(stamp >= Math.floor(before / 1000) * 1000 - 1000 && stamp <= Date.now() + 1000, utc);
  const record = JSON.parse(out.slice(JSON_HEADER.length));
  assert.equal(record.node.pid, pid);
  assert.equal(out.indexOf('\n', JSON_HEADER.length), out.length - 1);
});

test('echo answers repeat the decoded msg with its byte length', async (t) => {
  const table = [
    ['action=echo&msg=hi', 'hi'],
    ['action=echo', ''],
    ['msg=first&action=echo', 'first'],
    ['action=ech%6F&msg=x', 'x'],
    ['action=echo&msg=a%00b', 'a'],
    ['action=echo&msg=a%22b', 'a"b'],
    ['action=echo&msg=back%5Cslash', 'back\\slash'],
    ['action=echo&msg=%C3%A9', '\xc3\xa9'],
  ];
  for (const [query, msg] of table)
    await t.test(query, () => assert.equal(run({ query }).out, echoAnswer(msg)));
});

test('the string writer escapes exactly quote, backslash and control bytes', async (t) => {
  const table = [
    ['%22', '\\"'],
    ['%5C', '\\\\'],
    ['%09', '\\t'],
    ['%0A', '\\n'],
    ['%0D', '\\r'],
    ['%01', '\\u0001'],
    ['%08', '\\u0008'],
    ['%0B', '\\u000b'],
    ['%0C', '\\u000c'],
    ['%1B', '\\u001b'],
    ['%1F', '\\u001f'],
    ['%20', ' '],
    ['/', '/'],
    ['%7F', '\x7f'],
    ['%80%FF', '\x80\xff'],
    ['%22%22%5C%01', '\\"\\"\\\\\\u0001'],
  ];
  for (const [raw, written] of table)
    await t.test(raw, () => {
      const { out } = run({ query: 'action=echo&msg=' + raw });
      const msg = /"msg":"(.*)","len":/s.exec(out)?.[1];
      assert.equal(msg, written);
    });
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
      assert.equal(out, unknownAnswer(action));
      assert.equal(status, 0);
    });
});
