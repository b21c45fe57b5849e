'use strict';
// tevio's own reference texts, beside its golden answers: the byte counts of the page's pieces
// that its layout was designed around, the rules its pieces keep (single quotes only, line breaks
// in few places), its theme tokens, and the texts of its meta record and hints. They are tevio's,
// not a contract that a plugin made from it keeps: named after tevio, this file is not in a fork.
const test = require('node:test');
const assert = require('node:assert/strict');
const { run, bytes, jsonAnswer, identity, HTML_HEADER } = require('../checks/support/plugin');

const SLUG = 'tevio';
// The version is the source's to set; the top bar was designed around one of five characters.
const { version, versionLine } = identity();

// [piece, the text that ends it, designed byte count (null: not fixed)]
const PIECES = [
  ['header block', '\r\n\r\n', 100],
  ['document head', '<style>', 154],
  ['stylesheet', "<div class='wrap'>", 2661],
  ['back bar', bytes('Back to Bot</a></div>'), 54],
  ['top bar', 'Refresh</button></div>', 288 + version.length - 5],
  ['node card', '</pre></div>', 544],
  ['echo card', '</pre></div>', 275],
  ['guide card', '</pre></div>', null],
  ['script', '\n</script></body></html>\n', null],
];

// The page's pieces, cut after the text that ends each.
function split(out) {
  let rest = out;
  return PIECES.map(([name, end]) => {
    const at = rest.indexOf(end);
    assert.notEqual(at, -1, `${name}: missing ${JSON.stringify(end)}`);
    const piece = rest.slice(0, at + end.length);
    rest = rest.slice(at + end.length);
    return piece;
  });
}

const page = run({ query: '' }).out;
const pieces = split(page);
const [, , style, , , , , , script] = pieces;

test('the page is nine pieces of their designed sizes', async (t) => {
  assert.equal(pieces.join(''), page);
  for (const [index, [name, , size]] of PIECES.entries())
    if (size !== null) await t.test(name, () => assert.equal(pieces[index].length, size));
});

test('every piece keeps the page rules', async (t) => {
  const body = page.slice(HTML_HEADER.length);
  const outside = body.replace(script, '');
  const cases = [
    ['no double quote anywhere', () => assert.equal(body.includes('"'), false)],
    ['line feeds only after the doctype, in the example block and in the script', () => {
      assert.equal(outside.split('\n').length - 1, 2);
      assert.ok(outside.startsWith('<!DOCTYPE html>\n'));
      assert.match(outside, /<pre>QUERY_STRING='action=info' [^\n<]+\nQUERY_STRING/);
    }],
    ['the script is plain ASCII', () => assert.match(script, /^<script>\n[\x09\x0a\x20-\x7e]*$/)],
    ['the root element carries no theme as written', () => assert.match(body, /<html lang='en'><head>/)],
    ['the greeting is 22 bytes', () => assert.match(pieces[6], /value='[^']{22}'/)],
  ];
  for (const [name, check] of cases) await t.test(name, check);
});

test('the stylesheet declares the theme tokens the script and the page rely on', () => {
  assert.ok(style.startsWith(':root{color-scheme:dark light;--bg:#0d0d10;--surface:#16161a;--surface2:#1e1e24;'));
  assert.ok(style.includes('html[data-theme=light]{--bg:#f4f4f7;--surface:#ffffff;--surface2:#f0f0f4;--text:#1c1c1e;--muted:#6b6b73;--line:rgba(0,0,0,.10)}'));
  assert.ok(style.includes('--accent2:#30d158;--danger:#ff453a;'));
  assert.ok(style.endsWith("@media(max-width:520px){body{padding:10px}.card{padding:12px}}</style></head><body><div class='wrap'>"));
});

test('the meta record, the version and the hints are the designed texts', () => {
  assert.equal(run({ args: ['--meta'] }).out, `{"name":"${SLUG}","desc":"Starter demo"}\n`);
  assert.match(versionLine, /^\d+\.\d+\.\d+\n$/);
  assert.deepEqual(jsonAnswer(run({ query: 'action=info' }).out).hints, {
    next_step: `Edit src/plugin_${SLUG}, then run \`make\` (or \`make musl win64\`)`,
    install: `cp plugin_${SLUG} ~/.dorvanel/plugins/ `,
    docs: 'See README.md for the 3-mode contract and the fork workflow',
    verify: `plugin_${SLUG} --meta && QUERY_STRING='action=info' plugin_${SLUG}`,
  });
});
