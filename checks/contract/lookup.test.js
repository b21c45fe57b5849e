'use strict';
// Finding and decoding one query parameter, seen through the echo that repeats its msg. (How each
// value is cut to its buffer, at every bound, is in hostile.test.js.)
const test = require('node:test');
const { run, assertEcho } = require('../support/plugin');

const assertEchoOf = (query, msg) => assertEcho(run({ query: 'action=echo&' + query }).out, msg);

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
