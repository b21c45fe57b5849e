'use strict';
// Runs the plugin the way the host does, one process per request with the request in the
// environment, and holds the texts the answers must match byte for byte.
//
// PLUGIN_CMD names the command (default ./plugin_tevio); it may start with a launcher, as in
// "wine plugin_tevio.exe". PLUGIN_PLATFORM names what the build reports as "os arch libc"
// (default: this machine with glibc); PLUGIN_HOSTNAME the host name it should report.
const { spawnSync } = require('node:child_process');
const os = require('node:os');

const commandLine = (process.env.PLUGIN_CMD || './plugin_tevio').split(/\s+/);
const [command, ...launcherArgs] = commandLine;
const underLauncher = launcherArgs.length > 0;

// A launcher such as Wine needs its own variables; a bare executable gets only the case's.
const launcherEnv = {};
if (underLauncher)
  for (const name of ['PATH', 'HOME', 'WINEPREFIX', 'WINEDEBUG', 'WINESERVER', 'WINEDLLOVERRIDES'])
    if (process.env[name] !== undefined) launcherEnv[name] = process.env[name];

// Bytes above 0x7F cannot be compared through a launcher that converts the environment between
// code pages (Wine does); cases that need them run on the native builds and under qemu-user, which
// passes the environment on unchanged.
const rawBytesPass = !underLauncher || /^qemu-/.test(require('node:path').basename(command));

const archNames = { x64: 'x86_64', arm64: 'aarch64', ia32: 'x86', arm: 'arm' };
const [osName, archName, libcName] = (
  process.env.PLUGIN_PLATFORM || `linux ${archNames[process.arch] || process.arch} glibc`
).split(' ');
const hostName = process.env.PLUGIN_HOSTNAME ?? os.hostname();

// Runs one request: `query` becomes QUERY_STRING (left unset when undefined), `env` adds variables.
// The answer comes back as a latin1 string, so one character stands for one byte.
function run({ args = [], query, env = {} } = {}) {
  const fullEnv = { ...launcherEnv, ...env };
  if (query !== undefined) fullEnv.QUERY_STRING = query;
  let result;
  // Wine now and then fails to start a program at all and leaves no output, which the plugin
  // itself never does; under a launcher such a start is tried again, twice at most.
  for (let attempt = 0; attempt < (underLauncher ? 3 : 1); attempt++) {
    result = spawnSync(command, [...launcherArgs, ...args], { env: fullEnv, timeout: 20000 });
    if (result.error) throw result.error;
    if (result.stdout.length > 0) break;
  }
  return {
    status: result.status,
    stdout: result.stdout,
    out: result.stdout.toString('latin1'),
    err: result.stderr.toString('latin1'),
  };
}

// The UTF-8 bytes of a text, as a latin1 string to compare with `out`.
const bytes = (text) => Buffer.from(text, 'utf8').toString('latin1');

const HEADER_TAIL = 'Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n\r\n';
const JSON_HEADER = 'Content-Type: application/json; charset=utf-8\r\n' + HEADER_TAIL;
const HTML_HEADER = 'Content-Type: text/html; charset=utf-8\r\n' + HEADER_TAIL;
const REFUSAL =
  'Status: 401 Unauthorized\r\n' + JSON_HEADER + '{"ok":false,"error":"invalid node password"}\n';
const META = '{"name":"tevio","desc":"Starter demo"}\n';
const VERSION = '1.1.0';
const HINTS =
  ',"hints":{"next_step":"Edit src/plugin_tevio, then run `make` (or `make musl win64`)",' +
  '"install":"cp plugin_tevio ~/.dorvanel/plugins/ ",' +
  '"docs":"See README.md for the 3-mode contract and the fork workflow",' +
  '"verify":"plugin_tevio --meta && QUERY_STRING=\'action=info\' plugin_tevio"}';

// An independent JSON string writer for expectations: escapes exactly ", \, and bytes below 0x20.
function jsonString(latin1) {
  const short = { '"': '\\"', '\\': '\\\\', '\t': '\\t', '\n': '\\n', '\r': '\\r' };
  let written = '"';
  for (const c of latin1) {
    if (short[c]) written += short[c];
    else if (c < ' ') written += '\\u' + c.charCodeAt(0).toString(16).padStart(4, '0');
    else written += c;
  }
  return written + '"';
}

// The whole info-record answer for a query, with the live values (pid, utc) taken from `out`
// after checking their form. Returns [expected, pid, utc].
function expectedInfo(out, query) {
  const live = /"pid":(\d+),"utc":"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)"/.exec(out);
  if (!live) return [`an info record with a pid and a utc time, not ${JSON.stringify(out)}`];
  const [, pid, utc] = live;
  const host = hostName === '*' ? /"hostname":("(?:[^"\\]|\\.)*")/.exec(out)?.[1] : jsonString(bytes(hostName));
  const expected =
    JSON_HEADER +
    `{"ok":true,"plugin":"plugin_tevio","slug":"tevio","version":"${VERSION}","node":{` +
    `"hostname":${host},"os":"${osName}","arch":"${archName}","libc":"${libcName}",` +
    `"pid":${pid},"utc":"${utc}"},"query_string":${jsonString(query ?? '')}` +
    HINTS +
    '}\n';
  return [expected, Number(pid), utc];
}

const echoAnswer = (msg) =>
  JSON_HEADER + `{"ok":true,"action":"echo","msg":${jsonString(msg)},"len":${msg.length}}\n`;

const unknownAnswer = (action) =>
  JSON_HEADER +
  `{"ok":false,"error":"unknown action","action":${jsonString(action)},"supported":["info","echo"]}\n`;

module.exports = {
  run,
  bytes,
  command,
  commandLine,
  underLauncher,
  rawBytesPass,
  osName,
  archName,
  libcName,
  JSON_HEADER,
  HTML_HEADER,
  REFUSAL,
  META,
  VERSION,
  jsonString,
  expectedInfo,
  echoAnswer,
  unknownAnswer,
};
