'use strict';
// The golden answers: the exact bytes the plugin writes for a table of requests, kept in
// test/golden/NAME.txt. `make golden` rewrites them from the current build (tools/golden) and
// test/golden.test.js checks every build against them, printing what differs.
//
// A new action or a new kind of request is one more row here, then `make golden` and a look at
// the diff it prints.
const fs = require('node:fs');
const path = require('node:path');
const { run } = require('./plugin');

const REQUESTS = [
  { name: 'meta', args: ['--meta'] },
  { name: 'version', args: ['--version'] },
  { name: 'page', query: '' },
  { name: 'page-embedded', query: 'embed=1' },
  { name: 'info', query: 'action=info&x="a+b"' },
  { name: 'echo', query: 'action=echo&msg=hi' },
  { name: 'echo-empty', query: 'action=echo' },
  { name: 'echo-escapes', query: 'action=echo&msg=%22%5C%09%0A%0D%01%1F%7F%C3%A9' },
  { name: 'unknown-action', query: 'action=Info' },
  { name: 'refused', query: 'action=info', env: { BOT_PASSWORD: 'secret' } },
];

// What differs from node to node, build to build and run to run: the JSON members named here are
// written as a placeholder, e.g. "pid":<pid>.
const LIVE_STRINGS = ['hostname', 'os', 'arch', 'libc', 'utc'];
const LIVE_NUMBERS = ['pid'];

const DIRECTORY = path.join(__dirname, 'golden');
const fileOf = (request) => path.join(DIRECTORY, `${request.name}.txt`);

// The answer to a request with its live values masked, as a latin1 string (one character a byte).
// A quote inside a JSON string is escaped, so a masked member never starts inside a string.
function answer(request) {
  let out = run(request).out;
  for (const name of LIVE_STRINGS) out = out.replace(new RegExp(`"${name}":"(?:[^"\\\\]|\\\\.)*"`, 'g'), `"${name}":"<${name}>"`);
  for (const name of LIVE_NUMBERS) out = out.replace(new RegExp(`"${name}":-?\\d+`, 'g'), `"${name}":<${name}>`);
  return out;
}

const read = (file) => (fs.existsSync(file) ? fs.readFileSync(file).toString('latin1') : null);
const write = (file, text) => fs.writeFileSync(file, Buffer.from(text, 'latin1'));

// Golden files that no row of the table names any more.
const orphans = () =>
  fs.readdirSync(DIRECTORY).filter((file) => file.endsWith('.txt') && !REQUESTS.some((r) => `${r.name}.txt` === file));

/* ==== A readable diff ==== */

// Lines of a text for display: the answers hold few line breaks, so they are also broken after
// each tag, rule, declaration and JSON member; control characters are shown as escapes.
function displayLines(latin1) {
  return Buffer.from(latin1, 'latin1')
    .toString('utf8')
    .split(/(?<=[\n>};,])/)
    .map((line) => line.replace(/[\x00-\x1f]/g, (c) => (c === '\n' ? '\\n' : c === '\r' ? '\\r' : c === '\t' ? '\\t' : `\\x${c.charCodeAt(0).toString(16).padStart(2, '0')}`)));
}

// The lines that differ between two texts, with `context` unchanged lines around each change:
// "- " for lines of `before` only, "+ " for lines of `after` only.
function diff(before, after, context = 2) {
  const a = displayLines(before);
  const b = displayLines(after);
  // Longest common subsequence, filled from the ends so the walk below goes forwards.
  const common = Array.from({ length: a.length + 1 }, () => new Uint32Array(b.length + 1));
  for (let i = a.length - 1; i >= 0; i--)
    for (let j = b.length - 1; j >= 0; j--)
      common[i][j] = a[i] === b[j] ? common[i + 1][j + 1] + 1 : Math.max(common[i + 1][j], common[i][j + 1]);
  const lines = [];
  for (let i = 0, j = 0; i < a.length || j < b.length; ) {
    if (i < a.length && j < b.length && a[i] === b[j]) { lines.push(['  ', a[i++]]); j++; }
    else if (i < a.length && (j === b.length || common[i + 1][j] >= common[i][j + 1])) lines.push(['- ', a[i++]]);
    else lines.push(['+ ', b[j++]]);
  }
  const near = (index) => lines.slice(Math.max(0, index - context), index + context + 1).some(([mark]) => mark !== '  ');
  const shown = [];
  lines.forEach(([mark, line], index) => {
    if (mark !== '  ' || near(index)) shown.push(mark + line);
    else if (shown[shown.length - 1] !== '  ...') shown.push('  ...');
  });
  return shown.join('\n');
}

module.exports = { REQUESTS, fileOf, answer, read, write, orphans, diff };
