'use strict';
// Runs the plugin the way the host does, one process per request with the request in the
// environment, and holds what every plugin made from this one owes the host: the header blocks,
// the 401 answer, and JSON answers of one strict line. What the plugin says of itself (its name,
// version and actions) is asked of the plugin, never copied here.
//
// PLUGIN_CMD names the command (default ./plugin_NAME, the native build); it may start with a
// launcher, as in "wine plugin_NAME.exe". PLUGIN_PLATFORM names what the build reports as
// "os arch libc" (default: this machine with glibc); PLUGIN_HOSTNAME the host name it should report.
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const { REPOSITORY, THIS_NAME: NAME, PROGRAM } = require('../../tools/plugin/checkout.js');
const { commandLine, command, underLauncher, launcherEnv, run } = require('../../tools/plugin/under-test.js');
const { stringEnd } = require('../../tools/plugin/answer.js');
if (!NAME) throw new Error('src/ holds no one file src/plugin_NAME.cpp, which names the plugin');

// Without a build every case would fail on its own; say what to do instead, once for the whole
// run: test files run side by side as children of one runner, and the first to get here says it.
const missing = commandLine.filter((word) => /^\.{0,2}\//.test(word) && !fs.existsSync(word));
if (missing.length > 0) {
  const marker = path.join(os.tmpdir(), `plugin-tests-unbuilt-${process.ppid}`);
  let first = true;
  try {
    fs.writeFileSync(marker, '', { flag: 'wx' });
  } catch {
    // Left by an earlier run from the same shell, or written a moment ago by this run.
    first = fs.statSync(marker).mtimeMs < Date.now() - 30000;
    if (first) fs.writeFileSync(marker, '');
  }
  if (first) process.stderr.write(`${missing.join(' ')} is not built: run make first\n`);
  process.exit(1);
}

// A sanitizer build (make debug) brings a runtime of its own: an allocator, shadow memory, and
// files it reads at start and exit.
const sanitized = !underLauncher && fs.readFileSync(command).includes('__asan_init');

const archNames = { x64: 'x86_64', arm64: 'aarch64', ia32: 'x86', arm: 'arm' };
const [osName, archName, libcName] = (
  process.env.PLUGIN_PLATFORM || `linux ${archNames[process.arch] || process.arch} glibc`
).split(' ');

// What the environment carries to the plugin. Linux passes any bytes, in values of up to 128 KiB
// (120 KiB here, with room for the name). Windows keeps the environment in UTF-16, so a value
// reaches the Windows build (under Wine here) whole only when it is valid UTF-8, and holds at most
// 32,767 UTF-16 units, its NUL included. `latin1` strings: one character a byte.
const windows = osName === 'windows';
const longestValue = windows ? 32766 : 120 * 1024;
const utf8 = new TextDecoder('utf-8', { fatal: true });
// The text whose UTF-8 bytes `latin1` holds, or null when they are not valid UTF-8.
function utf8Text(latin1) {
  try {
    return utf8.decode(Buffer.from(latin1, 'latin1'));
  } catch {
    return null;
  }
}
const environmentPasses = (latin1) => !windows || utf8Text(latin1) !== null;
const hostName = process.env.PLUGIN_HOSTNAME ?? os.hostname();

// The UTF-8 bytes of a text, as a latin1 string to compare with `out`.
const bytes = (text) => Buffer.from(text, 'utf8').toString('latin1');

/* ==== What the host relies on ==== */

const HEADER_TAIL = 'Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n\r\n';
const JSON_HEADER = 'Content-Type: application/json; charset=utf-8\r\n' + HEADER_TAIL;
const HTML_HEADER = 'Content-Type: text/html; charset=utf-8\r\n' + HEADER_TAIL;
const REFUSAL =
  'Status: 401 Unauthorized\r\n' + JSON_HEADER + '{"ok":false,"error":"invalid node password"}\n';

// The bytes of `latin1` as a JSON answer carries them, as UTF-8: each well-formed sequence as it
// is, and each maximal ill-formed subpart as U+FFFD, as a browser's decoder reads them.
const replacing = new TextDecoder('utf-8', { ignoreBOM: true });
const asUtf8 = (latin1) => Buffer.from(replacing.decode(Buffer.from(latin1, 'latin1')), 'utf8').toString('latin1');

// An independent JSON string writer: escapes exactly ", \, and bytes below 0x20, in the one form
// each has (\t \n \r, \u00xx for the rest); every other byte passes as UTF-8 carries it.
function jsonString(latin1) {
  const short = { '"': '\\"', '\\': '\\\\', '\t': '\\t', '\n': '\\n', '\r': '\\r' };
  let written = '"';
  for (const c of asUtf8(latin1)) {
    if (short[c]) written += short[c];
    else if (c < ' ') written += '\\u' + c.charCodeAt(0).toString(16).padStart(4, '0');
    else written += c;
  }
  return written + '"';
}

// A few bytes either side of `at`, to show where a check failed.
const near = (text, at) => JSON.stringify(text.slice(Math.max(0, at - 30), at + 30));

// Checks a JSON answer and returns its parsed value: the JSON header block, then one line of JSON
// opening with a boolean `ok`, compact (no whitespace outside strings), with every string, keys
// included, in the writer's forms. Numbers are the plugin's to write in any form JSON allows
// (4.90, 1e3, -0): they are read as written, never written again to be compared.
function jsonAnswer(out) {
  assert.ok(out.startsWith(JSON_HEADER), `not a JSON answer: ${JSON.stringify(out.slice(0, 120))}`);
  const line = out.slice(JSON_HEADER.length);
  assert.equal(line.indexOf('\n'), line.length - 1, 'the answer is one line ended by a line feed');
  const text = line.slice(0, -1);
  assert.ok(utf8Text(text) !== null, `the answer is not UTF-8: ${JSON.stringify(text.slice(0, 200))}`);
  let value;
  try {
    value = JSON.parse(text);
  } catch (error) {
    assert.fail(`the answer is not JSON (${error.message}): ${JSON.stringify(text.slice(0, 200))}`);
  }
  for (let at = 0; at < text.length; ) {
    if (text[at] === '"') {
      const end = stringEnd(text, at);
      const written = text.slice(at, end);
      assert.equal(written, jsonString(JSON.parse(written)), `a string not in the writer's forms at byte ${at}: ${near(text, at)}`);
      at = end;
    } else {
      assert.ok(!' \t\r'.includes(text[at]), `whitespace outside a string at byte ${at}, not compact: ${near(text, at)}`);
      at++;
    }
  }
  assert.equal(Object.keys(value)[0], 'ok');
  assert.equal(typeof value.ok, 'boolean');
  return value;
}

/* ==== What the plugin says of itself ==== */

// An action no plugin made from this one is expected to have.
const UNKNOWN_ACTION = 'no-such-action';

// Asked once per test file: the meta record and version line as written, the slug and executable
// name from the info record, and the actions from the answer to an unknown one.
let asked = null;
function identity() {
  if (asked) return asked;
  const info = jsonAnswer(run({ query: 'action=info' }).out);
  const unknown = jsonAnswer(run({ query: 'action=' + UNKNOWN_ACTION }).out);
  asked = {
    meta: run({ args: ['--meta'] }).out,
    versionLine: run({ args: ['--version'] }).out,
    version: info.version,
    slug: info.slug,
    plugin: info.plugin,
    supported: unknown.supported,
  };
  return asked;
}

/* ==== The answers every plugin made from this one gives ==== */

// An echo answer repeating `msg` (latin1: one character a byte) as UTF-8 carries it, with the byte
// length it was decoded to.
function assertEcho(out, msg) {
  const answer = jsonAnswer(out);
  assert.deepEqual([answer.ok, answer.msg, answer.len], [true, asUtf8(msg), msg.length]);
}

// The answer to an action the plugin does not know: `ok` false, the action as decoded and cut
// (carried as UTF-8), and the list of the actions it does know.
function assertUnknown(out, action) {
  const answer = jsonAnswer(out);
  assert.equal(answer.ok, false);
  assert.equal(answer.action, asUtf8(action));
  assert.deepEqual(answer.supported, identity().supported);
}

// The info record for `query`: the plugin's identity, this node's facts, and the raw query string.
// Returns the parsed record.
function assertInfo(out, query) {
  const record = jsonAnswer(out);
  const { version, slug, plugin } = identity();
  assert.deepEqual([record.ok, record.plugin, record.slug, record.version], [true, plugin, slug, version]);
  const { hostname, os: system, arch, libc, pid, utc } = record.node;
  assert.deepEqual([system, arch, libc], [osName, archName, libcName]);
  if (hostName !== '*') assert.equal(hostname, bytes(hostName));
  assert.ok(Number.isInteger(pid) && pid > 0, `pid ${pid}`);
  assert.match(utc, /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$/);
  assert.equal(record.query_string, asUtf8(query ?? ''));
  return record;
}

module.exports = {
  REPOSITORY,
  NAME,
  PROGRAM,
  run,
  bytes,
  command,
  commandLine,
  underLauncher,
  launcherEnv,
  sanitized,
  libcName,
  longestValue,
  utf8Text,
  environmentPasses,
  JSON_HEADER,
  HTML_HEADER,
  REFUSAL,
  UNKNOWN_ACTION,
  jsonString,
  jsonAnswer,
  identity,
  assertEcho,
  assertUnknown,
  assertInfo,
};
