'use strict';
// Finding and decoding one query parameter, seen through the answers that repeat a value:
// the echo (msg, 511 raw bytes), the unknown-action answer (action, 63) and the gate (pwd, 255).
const test = require('node:test');
const assert = require('node:assert/strict');
const { run, assertEcho, assertUnknown, REFUSAL } = require('../plugin');

const echoOf = (query) => run({ query: 'action=echo&' + query }).out;
const assertEchoOf = (query, msg) => assertEcho(echoOf(query), msg);
// A query holding only pwd asks for the page, the same as an empty one once the gate lets it by.
const PAGE = run({ query: '' }).out;

test('a parameter is found at a segment start, with "=" right after its key', async (t) => {
  const table = [
    // [query after "action=echo&", decoded msg]
    ['msg=hi', 'hi'],
    ['msg=', ''],
    ['x=1', ''],
    ['msg', ''],
    ['xmsg=1', ''],
    ['msgx=1&msg=2', '2'],
    ['ms=1&msg=2', '2'],
    ['msg==1', '=1'],
    ['msg=a=b=c', 'a=b=c'],
    ['msg=1&msg=2', '1'],
    ['&&msg=2', '2'],
    ['x=1&', ''],
    ['Msg=up&msg=low', 'low'],
    ['%6Dsg=1', ''],
    ['msg=a;b=c', 'a;b=c'],
    ['x=msg=1', ''],
  ];
  for (const [query, msg] of table)
    await t.test(query, () => assertEchoOf(query, msg));
});

test('a found value is decoded once, left to right', async (t) => {
  const table = [
    ['a+b%21', 'a b!'],
    ['%zz', '%zz'],
    ['100%', '100%'],
    ['%4', '%4'],
    ['%', '%'],
    ['%%41', '%A'],
    ['%41%42', 'AB'],
    ['%2541', '%41'],
    ['%2B', '+'],
    ['%2b%2F', '+/'],
    ['%fF', '\xff'],
    ['%C3%A9', '\xc3\xa9'],
    ['%e9', '\xe9'],
    ['%g1%1g', '%g1%1g'],
    ['a%00b', 'a'],
    ['%00', ''],
    ['%26x', '&x'],
    ['++', '  '],
    ['%+1', '% 1'],
  ];
  for (const [raw, msg] of table)
    await t.test(raw, () => assertEchoOf('msg=' + raw, msg));
});

test('values are cut to the buffer, counting raw bytes before decoding', async (t) => {
  const a = (n) => 'a'.repeat(n);
  const table = [
    ['511 bytes pass whole', a(511), a(511)],
    ['600 bytes keep 511', a(600), a(511)],
    ['a sequence cut at the bound stays literal', a(510) + '%41', a(510) + '%'],
    ['a sequence cut after its first digit stays literal', a(509) + '%41', a(509) + '%4'],
    ['a sequence that fits is decoded', a(508) + '%41', a(508) + 'A'],
    ['long encoded value decodes to fewer bytes', '%41'.repeat(200), 'A'.repeat(170) + '%'],
  ];
  for (const [name, raw, msg] of table)
    await t.test(name, () => assertEchoOf('msg=' + raw, msg));

  await t.test('action keeps 63 raw bytes', () => {
    assertUnknown(run({ query: 'action=' + 'x'.repeat(100) }).out, 'x'.repeat(63));
    assertUnknown(run({ query: 'action=' + 'x'.repeat(62) + '%41' }).out, 'x'.repeat(62) + '%');
  });

  await t.test('pwd keeps 255 raw bytes', () => {
    const ask = (password, pwd) => run({ query: 'pwd=' + pwd, env: { BOT_PASSWORD: password } }).out;
    assert.equal(ask(a(255), a(300)), PAGE);
    assert.equal(ask(a(254) + '%', a(254) + '%41'), PAGE);
    assert.equal(ask(a(254) + 'A', a(254) + '%41'), REFUSAL);
    assert.equal(ask(a(256), a(256)), REFUSAL);
  });
});

test('every byte value survives decoding and JSON writing', () => {
  const all = Array.from({ length: 255 }, (_, i) => i + 1);
  for (let start = 0; start < all.length; start += 100) {
    const chunk = all.slice(start, start + 100);
    const raw = chunk.map((b) => '%' + b.toString(16).padStart(2, '0')).join('');
    const msg = Buffer.from(chunk).toString('latin1');
    assertEchoOf('msg=' + raw, msg);
  }
});
