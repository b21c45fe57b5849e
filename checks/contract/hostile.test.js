'use strict';
// Hostile requests: whatever a browser or an attacker can put in the query string, the password
// headers and the node password; every row must end with exit status 0, nothing on standard error,
// and the exact answer defined for it. And hostile hosts: a reader that leaves or dawdles, a full
// device, small limits, where the exit status says whether the answer left whole.
//
// Rows that put bytes in the environment that are not valid UTF-8 are skipped for the Windows
// build: Windows keeps the environment in UTF-16, which cannot carry them.
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const {
  run,
  bytes,
  commandLine,
  underLauncher,
  sanitized,
  libcName,
  longestValue,
  utf8Text,
  environmentPasses,
  assertInfo,
  assertEcho,
  assertUnknown,
  REFUSAL,
  HTML_HEADER,
} = require('../support/plugin');

const native = !underLauncher;

/* ==== Raw bytes in the environment ==== */

// Node hands environment strings to a child as UTF-8, so a lone byte such as 0xFF cannot be passed
// directly. Such values are written to files instead, byte for byte, and a shell reads each into
// its variable before it starts the command; the "x" keeps trailing line feeds, which a command
// substitution would drop. Strings here are latin1: one character is one byte.

function spawnWithBytes(commandAndArgs, env) {
  const directory = fs.mkdtempSync(path.join(os.tmpdir(), 'plugin-env-'));
  try {
    const names = Object.keys(env);
    names.forEach((name) => fs.writeFileSync(path.join(directory, name), Buffer.from(env[name], 'latin1')));
    const script =
      names.map((name) => `${name}="$(cat "$0/${name}"; printf x)"; ${name}="\${${name}%x}"; export ${name}; `).join('') +
      'unset PWD; exec "$@"';
    const result = spawnSync('/bin/sh', ['-c', script, directory, ...commandAndArgs], { env: {}, timeout: 20000 });
    if (result.error) throw result.error;
    return result;
  } finally {
    fs.rmSync(directory, { recursive: true, force: true });
  }
}

// Runs one request like run(), with any byte 0x01..0xFF allowed in the query and the variables.
function runBytes({ args = [], query, env = {} } = {}) {
  const fullEnv = { ...env };
  if (query !== undefined) fullEnv.QUERY_STRING = query;
  // Valid UTF-8 goes as text, which Node hands to the child as UTF-8, through a launcher too.
  if (Object.values(fullEnv).every((value) => utf8Text(value) !== null)) {
    const texts = Object.fromEntries(Object.entries(env).map(([name, value]) => [name, utf8Text(value)]));
    return run({ args, query: query === undefined ? undefined : utf8Text(query), env: texts });
  }
  const result = spawnWithBytes([...commandLine, ...args], fullEnv);
  return {
    status: result.status,
    stdout: result.stdout,
    out: result.stdout.toString('latin1'),
    err: result.stderr.toString('latin1'),
  };
}

// Runs every row of a table as a subtest: row.request goes to runBytes, row.expected is the exact
// answer or a function that checks it.
async function runTable(t, rows) {
  for (const row of rows) {
    const values = Object.values({ ...row.request.env, query: row.request.query ?? '' });
    const skip = !values.every(environmentPasses) && 'not valid UTF-8, which a UTF-16 environment cannot carry';
    await t.test(row.name, { skip }, () => {
      const result = runBytes(row.request);
      if (typeof row.expected === 'function') row.expected(result.out);
      else assert.equal(result.out, row.expected);
      assert.equal(result.status, 0);
      assert.equal(result.err, '');
    });
  }
}

const bytesFrom = (first, last) =>
  String.fromCharCode(...Array.from({ length: last - first + 1 }, (_, i) => first + i));
const EVERY_BYTE = bytesFrom(0x01, 0xff);
// Every byte that a raw query value carries as it is: "&" ends a value, "%" and "+" are decoded.
const EVERY_PLAIN_BYTE = EVERY_BYTE.replace(/[&%+]/g, '');
const percentEncoded = (latin1, hex = (b) => b.toString(16).toUpperCase().padStart(2, '0')) =>
  [...latin1].map((c) => '%' + hex(c.charCodeAt(0))).join('');

const PAGE = run({ query: '' }).out;
const EMBEDDED_PAGE = run({ query: 'embed=1' }).out;
const LOCKED = { BOT_PASSWORD: 'secret' };
const echoAnswer = (msg) => (out) => assertEcho(out, msg);
const unknownAnswer = (action) => (out) => assertUnknown(out, action);
const infoFor = (query) => (out) => assertInfo(out, query);
const ECHO_OK = echoAnswer('ok');

test('the environment trick delivers every byte exactly', { skip: !native && 'needs a native build' }, () => {
  const value = EVERY_BYTE + '\n\n';
  const printenv = spawnSync('sh', ['-c', 'command -v printenv']).stdout.toString().trim();
  const result = spawnWithBytes([printenv, 'X'], { X: value });
  assert.equal(result.stdout.toString('latin1'), value + '\n');
});

/* ==== Size ==== */

test('a query string as long as the environment carries', async (t) => {
  const size = longestValue;
  const long = `${Math.floor(size / 1024)} KiB`;
  // prefix + unit repeated + suffix, exactly `size` bytes.
  const fill = (prefix, unit, suffix = '') => {
    const middle = size - prefix.length - suffix.length;
    return prefix + unit.repeat(Math.ceil(middle / unit.length)).slice(0, middle) + suffix;
  };
  // Every ASCII byte, so the record escapes the whole range; 0x01 alone escapes six-fold.
  const everyAscii = fill('action=info&q=', bytesFrom(0x01, 0x7f));
  const controls = fill('action=info&q=', '\x01');
  const highBytes = fill('action=info&q=', bytesFrom(0x80, 0xff));
  const rows = [
    { name: 'info record repeats every ASCII byte', request: { query: everyAscii }, expected: infoFor(everyAscii) },
    { name: 'info record repeats control bytes six-fold', request: { query: controls }, expected: infoFor(controls) },
    { name: 'info record repeats bytes above 0x7F', request: { query: highBytes }, expected: infoFor(highBytes) },
    { name: 'msg is cut to 511 bytes', request: { query: fill('action=echo&msg=', 'm') }, expected: echoAnswer('m'.repeat(511)) },
    { name: 'action is cut to 63 bytes', request: { query: fill('action=', '%') }, expected: unknownAnswer('%'.repeat(63)) },
    { name: 'page for a long query without action', request: { query: fill('', 'x=1&') }, expected: PAGE },
    { name: `embed found after ${long}`, request: { query: fill('', 'x=1&', '&embed=1') }, expected: EMBEDDED_PAGE },
    { name: 'ampersands, then the action', request: { query: fill('', '&', 'action=echo&msg=end') }, expected: echoAnswer('end') },
    { name: 'refused: wrong pwd at the end', request: { query: fill('action=info&', 'q', '&pwd=wrong'), env: LOCKED }, expected: REFUSAL },
    { name: 'admitted: right pwd at the end', request: { query: fill('action=echo&msg=ok&', 'q', '&pwd=secret'), env: LOCKED }, expected: ECHO_OK },
    { name: `refused: ${long} header`, request: { query: 'action=info', env: { ...LOCKED, HTTP_X_BOT_PASSWORD: fill('', 's') } }, expected: REFUSAL },
    { name: `refused: ${long} bearer token`, request: { query: 'action=info', env: { ...LOCKED, HTTP_AUTHORIZATION: fill('Bearer ', 's') } }, expected: REFUSAL },
    { name: `admitted: ${long} password in the header`, request: { query: 'action=echo&msg=ok', env: { BOT_PASSWORD: fill('', 'p'), HTTP_X_BOT_PASSWORD: fill('', 'p') } }, expected: ECHO_OK },
    { name: `admitted: ${long} of spaces before the bearer token`, request: { query: 'action=echo&msg=ok', env: { ...LOCKED, HTTP_AUTHORIZATION: fill('', ' ', 'Bearer secret') } }, expected: ECHO_OK },
  ];
  await runTable(t, rows);
});

test('thousands of repeated keys', async (t) => {
  // 10,000 of each on Linux; on Windows as many as its environment carries in one variable.
  const n = Math.min(10000, Math.floor((longestValue - 64) / 'action=info&'.length));
  const times = (text, count = n) => text.repeat(count);
  const everyAction = times('action=info&') + 'action=echo';
  const rows = [
    { name: `the first msg of ${n} counts`, request: { query: 'action=echo&msg=first&' + times('msg=later&', n - 1) }, expected: echoAnswer('first') },
    { name: `msg after ${n} bare keys`, request: { query: 'action=echo&' + times('msg&') + 'msg=found' }, expected: echoAnswer('found') },
    { name: `msg after ${n} longer keys`, request: { query: times('msgx=1&') + 'action=echo&msg=ok' }, expected: ECHO_OK },
    { name: `msg after ${n} empty segments`, request: { query: 'action=echo' + times('&') + 'msg=ok' }, expected: ECHO_OK },
    { name: `the first action of ${n} counts`, request: { query: everyAction }, expected: infoFor(everyAction) },
    { name: `${n} keys without values`, request: { query: times('=&') + 'action=echo&msg=ok' }, expected: ECHO_OK },
    { name: `the first embed of ${n} counts: 0`, request: { query: times('embed=0&') + 'embed=1' }, expected: PAGE },
    { name: `the first embed of ${n} counts: 1`, request: { query: 'embed=1&' + times('embed=0&', n - 1) }, expected: EMBEDDED_PAGE },
    { name: `${n} wrong pwd before the right one`, request: { query: times('pwd=wrong&') + 'pwd=secret&action=echo&msg=ok', env: LOCKED }, expected: REFUSAL },
    { name: `the right pwd before ${n - 1} wrong ones`, request: { query: 'pwd=secret&' + times('pwd=wrong&', n - 1) + 'action=echo&msg=ok', env: LOCKED }, expected: ECHO_OK },
  ];
  await runTable(t, rows);
});

/* ==== Every byte value ==== */

test('every byte value 0x01..0xFF in msg', async (t) => {
  const lowerHex = (b) => b.toString(16).padStart(2, '0');
  const rows = [
    // 170 bytes encoded are 510 raw bytes, within the 511 that msg keeps.
    { name: 'percent-encoded 0x01..0xAA, upper-case hex', request: { query: 'action=echo&msg=' + percentEncoded(bytesFrom(0x01, 0xaa)) }, expected: echoAnswer(bytesFrom(0x01, 0xaa)) },
    { name: 'percent-encoded 0xAB..0xFF, lower-case hex', request: { query: 'action=echo&msg=' + percentEncoded(bytesFrom(0xab, 0xff), lowerHex) }, expected: echoAnswer(bytesFrom(0xab, 0xff)) },
    { name: 'raw ASCII bytes', request: { query: 'action=echo&msg=' + bytesFrom(0x01, 0x7f).replace(/[&%+]/g, '') }, expected: echoAnswer(bytesFrom(0x01, 0x7f).replace(/[&%+]/g, '')) },
    { name: 'raw bytes, every one that is not decoded', request: { query: 'action=echo&msg=' + EVERY_PLAIN_BYTE }, expected: echoAnswer(EVERY_PLAIN_BYTE) },
    { name: 'raw "&" ends the value', request: { query: 'action=echo&msg=a&b' }, expected: echoAnswer('a') },
    { name: 'raw "+" is a space', request: { query: 'action=echo&msg=a+b' }, expected: echoAnswer('a b') },
    { name: 'raw "%" without digits stays', request: { query: 'action=echo&msg=a%\xff' }, expected: echoAnswer('a%\xff') },
    // 21 bytes encoded are the 63 raw bytes that action keeps.
    { name: 'encoded control bytes as the action', request: { query: 'action=' + percentEncoded(bytesFrom(0x01, 0x15)) }, expected: unknownAnswer(bytesFrom(0x01, 0x15)) },
  ];
  await runTable(t, rows);
});

test('every byte value 0x01..0xFF in the node password', async (t) => {
  const password = { BOT_PASSWORD: EVERY_BYTE };
  const echo = 'action=echo&msg=ok';
  // pwd keeps 255 raw bytes, so the password goes through it in three parts of 85 bytes.
  const thirds = [bytesFrom(0x01, 0x55), bytesFrom(0x56, 0xaa), bytesFrom(0xab, 0xff)];
  const rows = [
    { name: 'nothing presented', request: { query: echo, env: password }, expected: REFUSAL },
    { name: 'X-Bot-Password', request: { query: echo, env: { ...password, HTTP_X_BOT_PASSWORD: EVERY_BYTE } }, expected: ECHO_OK },
    { name: 'X-Bot-Password, last byte differs', request: { query: echo, env: { ...password, HTTP_X_BOT_PASSWORD: EVERY_BYTE.slice(0, -1) + '\xfe' } }, expected: REFUSAL },
    { name: 'X-Bot-Password, first byte differs', request: { query: echo, env: { ...password, HTTP_X_BOT_PASSWORD: '\x02' + EVERY_BYTE.slice(1) } }, expected: REFUSAL },
    { name: 'X-Bot-Password, one byte short', request: { query: echo, env: { ...password, HTTP_X_BOT_PASSWORD: EVERY_BYTE.slice(0, -1) } }, expected: REFUSAL },
    { name: 'bearer', request: { query: echo, env: { ...password, HTTP_AUTHORIZATION: 'Bearer ' + EVERY_BYTE } }, expected: ECHO_OK },
    { name: 'bearer, one byte more', request: { query: echo, env: { ...password, HTTP_AUTHORIZATION: 'Bearer ' + EVERY_BYTE + '\xff' } }, expected: REFUSAL },
    { name: 'pwd, raw', request: { query: echo + '&pwd=' + EVERY_PLAIN_BYTE, env: { BOT_PASSWORD: EVERY_PLAIN_BYTE } }, expected: ECHO_OK },
    // Encoded, the whole password is 765 raw bytes: more than pwd keeps, so it cannot match.
    { name: 'pwd, encoded whole, too long to match', request: { query: echo + '&pwd=' + percentEncoded(EVERY_BYTE), env: password }, expected: REFUSAL },
    ...thirds.map((third, i) => ({ name: `pwd, encoded part ${i + 1} of 3`, request: { query: echo + '&pwd=' + percentEncoded(third), env: { BOT_PASSWORD: third } }, expected: ECHO_OK })),
    ...thirds.map((third, i) => ({ name: `pwd, part ${i + 1} of 3 against the whole password`, request: { query: echo + '&pwd=' + percentEncoded(third), env: password }, expected: REFUSAL })),
  ];
  await runTable(t, rows);
});

test('every byte value 0x01..0xFF in both headers', async (t) => {
  const echo = 'action=echo&msg=ok';
  const headers = { HTTP_X_BOT_PASSWORD: EVERY_BYTE, HTTP_AUTHORIZATION: EVERY_BYTE };
  const bearerHeaders = { HTTP_X_BOT_PASSWORD: EVERY_BYTE, HTTP_AUTHORIZATION: 'Bearer ' + EVERY_BYTE };
  const rows = [
    { name: 'wrong values are refused', request: { query: echo, env: { ...LOCKED, ...headers } }, expected: REFUSAL },
    { name: 'wrong bearer token is refused', request: { query: echo, env: { ...LOCKED, ...bearerHeaders } }, expected: REFUSAL },
    { name: 'right pwd after wrong headers', request: { query: echo + '&pwd=secret', env: { ...LOCKED, ...bearerHeaders } }, expected: ECHO_OK },
    { name: 'no node password: the headers do not matter', request: { query: echo, env: headers }, expected: ECHO_OK },
    { name: 'empty node password: the headers do not matter', request: { query: echo, env: { BOT_PASSWORD: '', ...bearerHeaders } }, expected: ECHO_OK },
    { name: 'the info record does not repeat the headers', request: { query: 'action=info', env: headers }, expected: infoFor('action=info') },
  ];
  await runTable(t, rows);
});

/* ==== Percent sequences at the buffer bounds ==== */

// Rows for a value that keeps `bound` raw bytes: [name, raw value, decoded value].
function cutRows(bound) {
  const a = (n) => 'a'.repeat(n);
  return [
    ['a sequence ending at the bound', a(bound - 3) + '%41', a(bound - 3) + 'A'],
    ['the bound after the first digit', a(bound - 2) + '%41', a(bound - 2) + '%4'],
    ['the bound after the percent sign', a(bound - 1) + '%41', a(bound - 1) + '%'],
    ['the bound before the percent sign', a(bound) + '%41', a(bound)],
    ['a lone percent sign at the end', a(bound - 1) + '%', a(bound - 1) + '%'],
    ['one digit at the end', a(bound - 2) + '%4', a(bound - 2) + '%4'],
    ['a second digit that is not hex', a(bound - 3) + '%4g', a(bound - 3) + '%4g'],
    ['a first digit that is not hex', a(bound - 3) + '%g4', a(bound - 3) + '%g4'],
    ['a double percent sign', a(bound - 4) + '%%41', a(bound - 4) + '%A'],
    ['a double percent sign, cut', a(bound - 3) + '%%41', a(bound - 3) + '%%4'],
    ['an encoded percent sign is not decoded again', a(bound - 5) + '%2541', a(bound - 5) + '%41'],
    ['a decoded NUL at the bound', a(bound - 3) + '%00tail', a(bound - 3)],
    ['a NUL sequence cut', a(bound - 2) + '%00', a(bound - 2) + '%0'],
    ['a plus sign at the bound', a(bound - 1) + '+b', a(bound - 1) + ' '],
    ['a UTF-8 pair that fits', a(bound - 6) + '%C3%A9', a(bound - 6) + '\xc3\xa9'],
    ['a UTF-8 pair cut after its first byte', a(bound - 5) + '%C3%A9', a(bound - 5) + '\xc3%A'],
    ['an ampersand right after the bound', a(bound) + '&x', a(bound)],
    ['an ampersand at the bound', a(bound - 1) + '&xxx', a(bound - 1)],
  ];
}

test('broken and cut percent sequences at every buffer bound', async (t) => {
  const rows = [
    ...cutRows(511).map(([name, raw, msg]) => ({ name: `msg: ${name}`, request: { query: 'action=echo&msg=' + raw }, expected: echoAnswer(msg) })),
    ...cutRows(63).map(([name, raw, action]) => ({ name: `action: ${name}`, request: { query: 'action=' + raw }, expected: unknownAnswer(action) })),
    // The decoded pwd is the node password that the request must meet.
    ...cutRows(255).map(([name, raw, pwd]) => ({ name: `pwd: ${name}`, request: { query: 'action=echo&msg=ok&pwd=' + raw, env: { BOT_PASSWORD: pwd } }, expected: ECHO_OK })),
    ...cutRows(255).map(([name, raw, pwd]) => ({ name: `pwd, one byte more: ${name}`, request: { query: 'action=echo&msg=ok&pwd=' + raw, env: { BOT_PASSWORD: pwd + 'a' } }, expected: REFUSAL })),
    // No cut value decodes to "1" or "true", so the back bar stays.
    ...cutRows(15).map(([name, raw]) => ({ name: `embed: ${name}`, request: { query: 'embed=' + raw }, expected: PAGE })),
    { name: 'embed: "true" and a NUL fill the 15 bytes', request: { query: 'embed=%74%72%75%65%00' }, expected: EMBEDDED_PAGE },
    { name: 'embed: "1" and a NUL, junk past the bound', request: { query: 'embed=%31%00' + 'x'.repeat(20) }, expected: EMBEDDED_PAGE },
    { name: 'embed: "true" and a cut NUL', request: { query: 'embed=%74%72%75%65%0' }, expected: PAGE },
    { name: 'embed: "true" and a cut sequence at the bound', request: { query: 'embed=%74%72%75%65aa%41' }, expected: PAGE },
  ];
  await runTable(t, rows);
});

/* ==== UTF-8 through the environment ==== */

// Text as a host hands it over: bytes above 0x7F in the query string and the node password. Windows
// gives the environment in UTF-16, and a build that read it through the ANSI code page made
// "café" four bytes and refused a non-ASCII password sent as pwd.
test('UTF-8 text in the environment', async (t) => {
  const text = bytes('aé€😀'); // one to four bytes a character
  const password = bytes('pässwörd');
  const rows = [
    { name: 'echo counts its bytes', request: { query: 'action=echo&msg=' + text }, expected: echoAnswer(text) },
    { name: 'the info record repeats it', request: { query: 'action=info&q=' + text }, expected: infoFor('action=info&q=' + text) },
    { name: 'a node password presented as pwd', request: { query: 'action=echo&msg=ok&pwd=' + percentEncoded(password), env: { BOT_PASSWORD: password } }, expected: ECHO_OK },
  ];
  await runTable(t, rows);
});

/* ==== Hostile hosts ==== */
// Hosts seen to cut or lose an answer. A reader that has gone, or no standard output at all, is no
// fault of the plugin's: status 0. Anything else that keeps part of an answer from its reader gives
// status 1, so the host can tell a cut answer from a whole one; a slow reader or a small limit
// still gets the whole answer. Nothing goes to standard error either way.

// Runs the plugin inside sh as `script` arranges it: the script gets the command line as "$@" and a
// directory of its own as "$0", and leaves the plugin's exit status in "$0/status" and, when it
// keeps what the reader received, that in "$0/out".
function runHost(script, env) {
  const directory = fs.mkdtempSync(path.join(os.tmpdir(), 'plugin-host-'));
  try {
    const result = spawnSync('sh', ['-c', script, directory, ...commandLine], {
      env: { PATH: process.env.PATH, ...(native ? {} : process.env), ...env },
      stdio: ['ignore', 'ignore', 'pipe'],
      timeout: 20000,
    });
    const read = (name) => fs.readFileSync(path.join(directory, name)).toString('latin1');
    const out = fs.existsSync(path.join(directory, 'out')) ? read('out') : null;
    return { status: read('status').trim(), out, err: result.stderr.toString('latin1') };
  } finally {
    fs.rmSync(directory, { recursive: true, force: true });
  }
}

// perl (Essential in Debian) makes the pipe's write end 4 KiB (F_SETPIPE_SZ, 1031) and
// non-blocking, as a descriptor a host hands down may be, then becomes the plugin.
const NON_BLOCKING_PIPE =
  `{ perl -MFcntl -e 'fcntl(STDOUT, 1031, 4096); fcntl(STDOUT, F_SETFL, O_WRONLY | O_NONBLOCK) or die; exec @ARGV' "$@"; ` +
  'echo $? >"$0/status"; } | { sleep 0.5; cat >"$0/out"; }';
// A limit on the process would hold the emulator or the sanitizers' runtime instead.
const unlimitable = (underLauncher || sanitized) && 'the limit would apply to a launcher or a sanitizer runtime';
// glibc's loader maps the C library, 2 MiB of address space before the program's first line.
const addressSpace = libcName === 'glibc' ? 3 * 1024 : 1024;

test('hostile hosts', async (t) => {
  // [host, script, the exit status for an answer of a given length, skip]
  const hosts = [
    ['standard output closed', '"$@" >&-; echo $? >"$0/status"', () => 0],
    ['a reader that leaves after the first byte', '{ "$@"; echo $? >"$0/status"; } | dd bs=1 count=1 status=none >/dev/null', () => 0],
    ['a reader gone before the first byte', '{ sleep 0.2; "$@"; echo $? >"$0/status"; } | true', () => 0],
    ['a full device', '"$@" >/dev/full; echo $? >"$0/status"', () => 1],
    // sh counts a file-size limit in blocks of 512 bytes.
    ['a file-size limit of 2 KiB, its signal ignored', 'ulimit -f 4; trap "" XFSZ; "$@" >"$0/out"; echo $? >"$0/status"', (length) => (length > 2048 ? 1 : 0)],
    ['a non-blocking pipe of 4 KiB, read 0.5 s late', NON_BLOCKING_PIPE, () => 0],
    ['a data-segment limit of 256 KiB', 'ulimit -d 256; "$@" >"$0/out"; echo $? >"$0/status"', () => 0, unlimitable],
    [`an address-space limit of ${addressSpace / 1024} MiB`, `ulimit -v ${addressSpace}; "$@" >"$0/out"; echo $? >"$0/status"`, () => 0, unlimitable],
  ];
  // The long info record is longer than any buffer and pipe on the way, so the plugin is still
  // writing when the reader leaves or the pipe fills.
  const longQuery = 'action=info&q=' + '\x01'.repeat(longestValue - 'action=info&q='.length);
  // [answer, environment, check of the whole answer]
  const answers = [
    ['page', { QUERY_STRING: '' }, (out) => assert.equal(out, PAGE)],
    ['echo', { QUERY_STRING: 'action=echo&msg=hello' }, echoAnswer('hello')],
    ['refusal', { QUERY_STRING: 'action=info', BOT_PASSWORD: 'x' }, (out) => assert.equal(out, REFUSAL)],
    ['long info record', { QUERY_STRING: longQuery }, infoFor(longQuery)],
  ];
  for (const [host, script, statusFor, skip = false] of hosts)
    for (const [answer, env, isWhole] of answers)
      await t.test(`${host}: ${answer}`, { skip }, () => {
        const { status, out, err } = runHost(script, env);
        const expected = statusFor(run({ env }).stdout.length);
        assert.equal(status, String(expected));
        if (expected === 0 && out !== null) isWhole(out);
        assert.equal(err, '');
      });
});

test('the byte a reader takes before leaving is the first of the answer', async (t) => {
  for (const [name, env, first] of [['page', { QUERY_STRING: '' }, HTML_HEADER[0]], ['refusal', { BOT_PASSWORD: 'x' }, REFUSAL[0]]])
    await t.test(name, () => {
      const result = spawnSync('sh', ['-c', '"$@" | dd bs=1 count=1 status=none', 'sh', ...commandLine], {
        env: { PATH: process.env.PATH, ...(native ? {} : process.env), ...env },
        timeout: 20000,
      });
      assert.equal(result.stdout.toString('latin1'), first);
      assert.equal(result.stderr.toString(), '');
    });
});
