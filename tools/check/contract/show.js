'use strict';
// How bytes and commands are shown to a person: bytes as a quoted string with every byte outside
// printable ASCII escaped (a terminal never receives a control byte from the plugin), cut to a
// readable length; and each run as one line of shell that repeats it.
const path = require('node:path');

const SHOWN = 160; // bytes of an answer shown in a message

// `bytes` (a Buffer or a string) as "..." with \r \n \t \" \\ and \xNN escapes, cut after
// `limit` bytes with the whole length named.
function showBytes(bytes, limit = SHOWN) {
  const buffer = Buffer.isBuffer(bytes) ? bytes : Buffer.from(String(bytes), 'utf8');
  if (buffer.length === 0) return 'nothing (0 bytes)';
  const named = { 0x0d: '\\r', 0x0a: '\\n', 0x09: '\\t', 0x22: '\\"', 0x5c: '\\\\' };
  let text = '';
  for (const byte of buffer.subarray(0, limit))
    text += named[byte] || (byte >= 0x20 && byte < 0x7f ? String.fromCharCode(byte) : '\\x' + byte.toString(16).padStart(2, '0'));
  return buffer.length > limit ? `"${text}"... (${buffer.length} bytes in all)` : `"${text}"`;
}

const shellWord = (word) => (/^[A-Za-z0-9_@%+=:,./-]+$/.test(word) ? word : `'${word.replace(/'/g, `'\\''`)}'`);

// The command that starts the plugin for `run`, in the host's environment.
function commandFor(plugin, run) {
  const variables = Object.entries(run.env).map(([name, value]) => `${name}=${shellWord(value)}`);
  return ['env -i PATH="$PATH"', ...variables, shellWord(plugin), ...run.args.map(shellWord)].join(' ');
}

// The checker's own command line for one rule: hosts that the shell alone cannot set up are
// replayed by the checker itself.
const checkerFor = (plugin, rule, extra = []) =>
  ['node', shellWord(path.resolve(process.argv[1] || 'plugin-contract.js')), '--rule', rule, ...extra, shellWord(plugin)].join(' ');

// One line of shell that repeats `run` as the checker made it for `rule`, and shows the exit
// status.
function replayLine(plugin, run, rule) {
  const command = commandFor(plugin, run);
  switch (run.host) {
    case undefined:
      return `${command}; echo "[exit $?]"`;
    case 'closed':
      return `${command} >&-; echo "[exit $?]"`;
    case 'full':
      return `${command} >/dev/full; echo "[exit $?]"`;
    case 'gone':
      return `{ sleep 0.2; ${command}; echo "[exit $?]" >&2; } | true`;
    default:
      return checkerFor(plugin, rule);
  }
}

module.exports = { showBytes, shellWord, commandFor, replayLine, checkerFor };
