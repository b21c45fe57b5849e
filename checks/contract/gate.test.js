'use strict';
// The node password gate: where a request may present the password, in which order, and what a
// refused request gets.
const test = require('node:test');
const assert = require('node:assert/strict');
const { run, assertEcho, REFUSAL } = require('../support/plugin');

const PASSWORD = 'Open Sesame+1';
const LOCKED = { BOT_PASSWORD: PASSWORD };
const OVER_LONG = 'x'.repeat(32767);

// Each row: what the request carries, and whether it gets through. Passing requests ask for an echo.
// The three places and the plain right and wrong values are the host contract's (host.test.js);
// these are the exact forms this kit's gate takes and refuses.
const table = [
  ['header, trailing space', { env: { ...LOCKED, HTTP_X_BOT_PASSWORD: PASSWORD + ' ' } }, false],
  ['header is not decoded', { env: { ...LOCKED, HTTP_X_BOT_PASSWORD: 'Open%20Sesame%2B1' } }, false],
  ['bearer, trailing space', { env: { ...LOCKED, HTTP_AUTHORIZATION: 'Bearer ' + PASSWORD + ' ' } }, false],
  ['bearer, lower-case scheme', { env: { ...LOCKED, HTTP_AUTHORIZATION: 'bearer ' + PASSWORD } }, false],
  ['bearer, tab after the scheme', { env: { ...LOCKED, HTTP_AUTHORIZATION: 'Bearer\t' + PASSWORD } }, false],
  ['bearer, tab before the scheme', { env: { ...LOCKED, HTTP_AUTHORIZATION: '\tBearer ' + PASSWORD } }, false],
  ['bearer, scheme word without space', { env: { ...LOCKED, HTTP_AUTHORIZATION: 'Bearer' } }, false],
  ['bearer, bare password', { env: { ...LOCKED, HTTP_AUTHORIZATION: PASSWORD } }, false],
  ['bearer, no space before the token', { env: { ...LOCKED, HTTP_AUTHORIZATION: 'Bearer' + PASSWORD } }, false],
  ['pwd, first of two counts', { env: LOCKED, pwd: 'wrong', after: '&pwd=Open+Sesame%2B1' }, false],
  ['pwd, first of two is right', { env: LOCKED, pwd: 'Open+Sesame%2B1', after: '&pwd=wrong' }, true],
  ['pwd, cut by a decoded NUL', { env: LOCKED, pwd: 'Open+Sesame%2B1%00tail' }, true],
  ['xpwd is not pwd', { env: LOCKED, before: 'xpwd=Open+Sesame%2B1&' }, false],
  // The first place that matches wins; a wrong value earlier does not block a right one later.
  ['right header, wrong pwd', { env: { ...LOCKED, HTTP_X_BOT_PASSWORD: PASSWORD }, pwd: 'no' }, true],
  // A password starting with a space cannot be a bearer token: the spaces are skipped.
  ['leading space, bearer', { env: { BOT_PASSWORD: ' lead', HTTP_AUTHORIZATION: 'Bearer  lead' } }, false],
  ['leading space, header', { env: { BOT_PASSWORD: ' lead', HTTP_X_BOT_PASSWORD: ' lead' } }, true],
  ['leading space, pwd', { env: { BOT_PASSWORD: ' lead' }, pwd: '+lead' }, true],
  // One unit longer than a Windows variable holds (32,766 UTF-16 units and its NUL), which Wine
  // passes on: a value that cannot be read whole never matches, nor turns the gate off.
  ['over-long password, nothing presented', { env: { BOT_PASSWORD: OVER_LONG } }, false],
  ['over-long password, wrong over-long header', { env: { BOT_PASSWORD: OVER_LONG, HTTP_X_BOT_PASSWORD: OVER_LONG.replaceAll('x', 'y') } }, false],
  ['over-long password, wrong over-long bearer', { env: { BOT_PASSWORD: OVER_LONG, HTTP_AUTHORIZATION: 'Bearer ' + OVER_LONG.replaceAll('x', 'y') } }, false],
];

test('the gate admits exactly the requests that present the node password', async (t) => {
  for (const [name, { env, pwd, before = '', after = '' }, admitted] of table)
    await t.test(name, () => {
      const query = before + 'action=echo&msg=ok' + (pwd === undefined ? '' : '&pwd=' + pwd) + after;
      const result = run({ query, env });
      if (admitted) assertEcho(result.out, 'ok');
      else assert.equal(result.out, REFUSAL);
      assert.equal(result.status, 0);
      assert.equal(result.err, '');
    });
});

test('a refused request gets the 178-byte answer, whatever it asked for', async (t) => {
  for (const query of [undefined, '', 'action=info', 'format=json', 'embed=1', 'action=nope'])
    await t.test(String(query), () => {
      const result = run({ query, env: LOCKED });
      assert.equal(result.out, REFUSAL);
      assert.equal(result.stdout.length, 178);
    });
});

test('a password longer than pwd can carry still passes as header and bearer', () => {
  const long = 'p'.repeat(300);
  const env = { BOT_PASSWORD: long };
  const ask = (extra, query) => run({ query: 'action=echo&msg=ok' + query, env: { ...env, ...extra } }).out;
  assertEcho(ask({ HTTP_X_BOT_PASSWORD: long }, ''), 'ok');
  assertEcho(ask({ HTTP_AUTHORIZATION: 'Bearer ' + long }, ''), 'ok');
  assert.equal(ask({}, '&pwd=' + long), REFUSAL);
});
