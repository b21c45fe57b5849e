'use strict';
// How bytes and commands are shown to a person: bytes as a quoted string with every byte outside
// printable ASCII escaped (a terminal never receives a control byte from the plugin), cut to a
// readable length; and each run as one line of shell that repeats it.
const path = require('node:path');

const SHOWN = 160; // bytes of an answer shown in a message

const NAMED = { 0x0d: '\\r', 0x0a: '\\n', 0x09: '\\t', 0x22: '\\"', 0x5c: '\\\\' };
const escaped = (buffer) =>
  [...buffer].map((byte) => NAMED[byte] || (byte >= 0x20 && byte < 0x7f ? String.fromCharCode(byte) : '\\x' + byte.toString(16).padStart(2, '0'))).join('');

// `bytes` (a Buffer or a string) as "..." with \r \n \t \" \\ and \xNN escapes, cut after
// `limit` bytes with the whole length named: `length` when only the first bytes were kept.
function showBytes(bytes, limit = SHOWN, length = null) {
  const buffer = Buffer.isBuffer(bytes) ? bytes : Buffer.from(String(bytes), 'utf8');
  const whole = length ?? buffer.length;
  if (whole === 0) return 'nothing (0 bytes)';
  const text = escaped(buffer.subarray(0, limit));
  return whole > limit ? `"${text}"... (${whole} bytes in all)` : `"${text}"`;
}

// A text read from an answer (a header line: latin1, one character a byte) with the same escapes,
// to stand inside a message.
const showText = (latin1) => escaped(Buffer.from(latin1, 'latin1'));

const shellWord = (word) => (/^[A-Za-z0-9_@%+=:,./-]+$/.test(word) ? word : `'${word.replace(/'/g, `'\\''`)}'`);

// A value (latin1: one character a byte) as one word of shell that gives its bytes: a short one of
// printable ASCII quoted as it is; in a longer one, a short unit repeated many times is written
// $(yes UNIT | head -n COUNT | tr -d '\n'), and bytes outside printable ASCII go through printf's
// octal escapes, so that the line stays short and a terminal shows it as it is.
const REPEATED = 64; // bytes of a unit repeated, from which it is written as a repetition
const printable = (code) => code >= 0x20 && code < 0x7f;
// How many times `unit` stands in `value` from `at` on, one after the other.
function repeats(value, at, unit) {
  let count = 0;
  while (value.startsWith(unit, at + count * unit.length)) count++;
  return count;
}
function shellValue(value) {
  if (/^[\x20-\x7e]*$/.test(value) && value.length <= SHOWN) return shellWord(value);
  let word = '';
  for (let at = 0; at < value.length; ) {
    const unit = [1, 2, 3, 4, 5, 6, 7, 8]
      .map((size) => value.slice(at, at + size))
      .find((candidate) => /^[\x20-\x7e]+$/.test(candidate) && repeats(value, at, candidate) * candidate.length >= REPEATED);
    if (unit) {
      const count = repeats(value, at, unit);
      word += `$(yes ${shellWord(unit)} | head -n ${count} | tr -d '\\n')`;
      at += count * unit.length;
    } else if (printable(value.charCodeAt(at))) {
      word += /["$`\\]/.test(value[at]) ? `\\${value[at]}` : value[at];
      at++;
    } else {
      let bytes = '';
      for (; at < value.length && !printable(value.charCodeAt(at)); at++) bytes += '\\' + value.charCodeAt(at).toString(8).padStart(3, '0');
      word += `$(printf '${bytes}')`;
    }
  }
  return `"${word}"`;
}

// The variables of `run` as NAME=word: its text values (`env`) as their UTF-8 bytes, and the
// values that are bytes and not text (`raw`, latin1) as they are.
const assignments = (run) => [
  ...Object.entries(run.env).map(([name, value]) => `${name}=${shellValue(Buffer.from(value, 'utf8').toString('latin1'))}`),
  ...Object.entries(run.raw || {}).map(([name, value]) => `${name}=${shellValue(value)}`),
];

// The command that starts the plugin for `run`, in the host's environment.
const commandFor = (plugin, run) => ['env -i PATH="$PATH"', ...assignments(run), shellWord(plugin), ...run.args.map(shellWord)].join(' ');

// The checker's own command line for one rule: hosts that the shell alone cannot set up are
// replayed by the checker itself.
const checkerFor = (plugin, rule, extra = []) =>
  ['node', shellWord(path.resolve(process.argv[1] || 'plugin-contract.js')), '--rule', rule, ...extra, shellWord(plugin)].join(' ');

// One line of shell that repeats `run` as the checker made it for `rule`, and shows the exit
// status. For the time limit, the answer is read to its end, as a host reads it: the exit status
// shows when the plugin ends, and the line returns when the last process holding the answer does.
function replayLine(plugin, run, rule) {
  const command = commandFor(plugin, run);
  switch (run.host) {
    case undefined:
      if (rule === 'proc.time-limit') return `{ ${command}; echo "[exit $?]" >&2; } | { cat; echo "[the answer ended]"; }`;
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

module.exports = { showBytes, showText, shellWord, shellValue, commandFor, replayLine, checkerFor };
