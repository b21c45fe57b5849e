'use strict';
// The golden answers: the exact bytes the plugin writes for a table of requests, kept in
// test/golden/NAME.txt. `make golden` rewrites them from the current build (golden.js) and
// checks/golden.test.js holds every build to them, printing what differs.
//
// The table is the questions every plugin answers, asked here, and then the plugin's own rows, in
// test/golden.js, which say how a row may name its live members and the builds that answer
// otherwise.
const fs = require('node:fs');
const path = require('node:path');
const { REPOSITORY } = require('../plugin/checkout.js');
const { run } = require('../plugin/under-test.js');
const { stringEnd } = require('../plugin/answer.js');

const TABLE = 'test/golden.js';
const EVERY_PLUGIN = [
  { name: 'meta', args: ['--meta'] },
  { name: 'version', args: ['--version'] },
  { name: 'page', query: '' },
  { name: 'page-embedded', query: 'embed=1' },
  { name: 'info', query: 'action=info&x="a+b"' },
  { name: 'unknown-action', query: 'action=Info' },
  { name: 'refused', query: 'action=info', env: { BOT_PASSWORD: 'secret' } },
];
const OWN = require(path.join(REPOSITORY, TABLE));
const REQUESTS = [...EVERY_PLUGIN, ...OWN];
for (const row of OWN)
  if (EVERY_PLUGIN.some((asked) => asked.name === row.name))
    throw new Error(`row '${row.name}' of ${TABLE}: every plugin is asked '${row.name}' already; give the row another name`);

// What differs from node to node, build to build and run to run in the info record.
const NODE_FACTS = ['hostname', 'os', 'arch', 'libc', 'pid', 'utc'];

const DIRECTORY = path.join(REPOSITORY, 'test', 'golden');

// The build under test, as its info record names it: [os, arch, libc].
let platform = null;
function build() {
  if (platform === null) {
    const out = run({ query: 'action=info' }).out;
    const { os, arch, libc } = JSON.parse(Buffer.from(out.slice(out.indexOf('\r\n\r\n') + 4), 'latin1').toString()).node;
    platform = [os, arch, libc];
  }
  return platform;
}

// The word of `perBuild` that names the build under test, or undefined.
const buildWord = (request) => request.perBuild?.find((word) => build().includes(word));
const fileName = (name, word) => (word === undefined ? `${name}.txt` : `${name}.${word}.txt`);
const fileOf = (request) => path.join(DIRECTORY, fileName(request.name, buildWord(request)));

// How to write the golden files of a build: `make golden` runs the native build; another build
// is named with PLUGIN_CMD, and the Windows one runs under Wine.
const defaultBuild = () => process.env.PLUGIN_CMD === undefined;
function goldenCommand(word) {
  if (word === undefined) return 'make golden';
  if (word === 'windows') return 'make win64 && tools/runner/with-wine make golden';
  return `PLUGIN_CMD='<the command that runs the ${word} build>' make golden`;
}

/* ==== Masking what is live ==== */

const NUMBER_OR_WORD = /-?\d+(?:\.\d+)?(?:[eE][+-]?\d+)?|true|false|null/y;

// The end of the JSON value that starts at `at`, of any type.
function valueEnd(text, at) {
  if (text[at] === '"') return stringEnd(text, at);
  if (text[at] === '{' || text[at] === '[') {
    for (let i = at, depth = 0; i < text.length; i++) {
      if (text[i] === '"') i = stringEnd(text, i) - 1;
      else if (text[i] === '{' || text[i] === '[') depth++;
      else if ((text[i] === '}' || text[i] === ']') && --depth === 0) return i + 1;
    }
    return -1;
  }
  NUMBER_OR_WORD.lastIndex = at;
  return NUMBER_OR_WORD.test(text) ? NUMBER_OR_WORD.lastIndex : -1;
}

// The answer with the value of every member named in `names` written as a placeholder: "<name>"
// for a string, <name> for any other value. Only a JSON body is looked at (after the header block,
// or the whole answer, as the meta record is); a page is left as it is. Returns the masked text and
// the names of `names` that stand nowhere in it.
function mask(out, names) {
  const head = out.indexOf('\r\n\r\n');
  const start = head === -1 ? 0 : head + 4;
  const found = new Set();
  if (out[start] !== '{' && out[start] !== '[') return { text: out, missing: names };
  let text = out.slice(0, start);
  for (let at = start; at < out.length; ) {
    if (out[at] !== '"') {
      text += out[at++];
      continue;
    }
    const end = stringEnd(out, at);
    if (end === -1) {
      text += out.slice(at);
      break;
    }
    const key = out.slice(at + 1, end - 1);
    text += out.slice(at, end);
    at = end;
    if (out[at] !== ':' || !names.includes(key)) continue;
    const valueAt = at + 1;
    const valueStop = valueEnd(out, valueAt);
    if (valueStop === -1) continue;
    found.add(key);
    text += out[valueAt] === '"' ? `:"<${key}>"` : `:<${key}>`;
    at = valueStop;
  }
  return { text, missing: names.filter((name) => !found.has(name)) };
}

// The answer to a request with its live values masked, as a latin1 string (one character a byte).
// A live member the row names that the answer lacks is an error, but for a build the row names.
function answer(request) {
  const live = request.live ?? [];
  const { text, missing } = mask(run(request).out, [...NODE_FACTS, ...live]);
  const lacking = live.filter((name) => missing.includes(name));
  if (lacking.length > 0 && buildWord(request) === undefined) {
    const otherwise = defaultBuild() ? '' :
      `; if this build (${build().join(' ')}) answers otherwise on purpose, add perBuild: ['${build()[0]}'] to the row`;
    throw new Error(
      `row '${request.name}' of the request table in ${TABLE} names the live member${lacking.length > 1 ? 's' : ''} ` +
        `${lacking.join(', ')}, which its answer (${path.relative(process.cwd(), fileOf(request))}) lacks${otherwise}`);
  }
  return text;
}

const read = (file) => (fs.existsSync(file) ? fs.readFileSync(file).toString('latin1') : null);
const write = (file, text) => fs.writeFileSync(file, Buffer.from(text, 'latin1'));

// Golden files that no row of the table names: each row names NAME.txt and NAME.WORD.txt for each
// word of its perBuild.
function orphans(files = fs.readdirSync(DIRECTORY), requests = REQUESTS) {
  const named = new Set(requests.flatMap((request) =>
    [undefined, ...(request.perBuild ?? [])].map((word) => fileName(request.name, word))));
  return files.filter((file) => file.endsWith('.txt') && !named.has(file));
}

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

module.exports = { REQUESTS, TABLE, build, buildWord, fileOf, defaultBuild, goldenCommand, mask, answer, read, write, orphans, diff };
