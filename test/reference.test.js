'use strict';
// tevio's own reference texts: the page piece by piece with the byte counts its layout was designed
// around, the rules its pieces keep (single quotes only, line breaks in few places), its theme
// tokens, and the texts of its meta record, version and hints. These are tevio's, not a contract
// that a plugin made from it keeps: `make fork` leaves this file out of a fork.
const test = require('node:test');
const assert = require('node:assert/strict');
const { run, bytes, jsonAnswer, identity, HTML_HEADER } = require('./plugin');

const SLUG = 'tevio';
// The version is the source's to set; the top bar was designed around one of five characters.
const { version: VERSION, versionLine } = identity();

const tile = (label, id) =>
  `<div class='kpi'><div class='k'>${label}</div><div class='v' id='${id}'>&mdash;</div></div>`;

// [piece, exact text or pattern, designed byte count]
const pieces = [
  ['header block', HTML_HEADER, 100],
  [
    'document head',
    "<!DOCTYPE html>\n<html lang='en'><head><meta charset='utf-8'><meta name='viewport' " +
      `content='width=device-width,initial-scale=1'><title>${SLUG}</title><style>`,
    154,
  ],
  ['stylesheet', /^:root\{color-scheme:dark light;[^\n]*<\/style><\/head><body><div class='wrap'>/, 2661],
  ['back bar', bytes("<div class='top'><a href='/'>← Back to Bot</a></div>"), 54],
  [
    'top bar',
    `<div class='top'><h1 class='title'>${SLUG}</h1><span class='pill'>${VERSION}</span>` +
      "<span class='pill' id='badge'>connecting</span><span class='spacer'></span>" +
      "<button class='ghost' id='themeBtn' type='button'>Theme</button>" +
      "<button class='ghost' id='reloadBtn' type='button'>Refresh</button></div>",
    288 + VERSION.length - 5,
  ],
  [
    'node card',
    bytes(
      "<div class='card'><h2>Live node info</h2><div class='grid'>" +
        tile('hostname', 'v-host') + tile('os / arch', 'v-os') + tile('libc', 'v-libc') +
        tile('pid', 'v-pid') + tile('utc', 'v-utc') +
        "</div><pre id='raw'>loading…</pre></div>",
    ),
    544,
  ],
  [
    'echo card',
    /^<div class='card'><h2>Echo action tester<\/h2><div class='row'><input id='msg' type='text' value='[^<>&'"\n]{22}' placeholder='type anything'><button id='echoBtn' type='button'>Send echo<\/button><\/div><pre id='echoOut'>Run an echo to see the JSON response\.<\/pre><\/div>/,
    275,
  ],
  [
    'guide card',
    new RegExp(
      "^<div class='card'><h2>Make it yours</h2><p style='margin:0;color:var\\(--muted\\)'>This is a clean-room reference plugin\\. " +
        'Fork it, edit one C\\+\\+ file, rebuild in one command\\.</p><ol>' +
        '<li>Clone: <code>git clone [^<\\s]+</code></li>' +
        `<li>Edit <code>src/plugin_${SLUG}</code> &mdash; change the metadata, add an action, restyle the UI\\.</li>` +
        '<li>Build: <code>make</code> \\(or <code>make musl</code>, <code>make win64</code>\\)</li>' +
        `<li>Install: <code>cp plugin_${SLUG} ~/\\.dorvanel/plugins/</code></li>` +
        `<li>Verify: <code>plugin_${SLUG} --meta</code> &mdash; no server restart needed\\.</li></ol>` +
        `<pre>QUERY_STRING='action=info' \\./plugin_${SLUG}\\nQUERY_STRING='action=echo&amp;msg=hi' \\./plugin_${SLUG}</pre></div>`,
    ),
    null,
  ],
  ['script', /^<script>\n[^]*\n<\/script><\/body><\/html>\n$/, null],
];

// Splits the answer at the known piece boundaries and returns the pieces in order.
function split(out) {
  const rest = { text: out };
  const take = (end) => {
    const at = rest.text.indexOf(end);
    assert.notEqual(at, -1, `missing ${JSON.stringify(end)}`);
    const piece = rest.text.slice(0, at + end.length);
    rest.text = rest.text.slice(at + end.length);
    return piece;
  };
  return [
    take('\r\n\r\n'),
    take('<style>'),
    take("<div class='wrap'>"),
    take(bytes('Back to Bot</a></div>')),
    take('Refresh</button></div>'),
    take('</pre></div>'),
    take('</pre></div>'),
    take('</pre></div>'),
    rest.text,
  ];
}

test('the page is nine pieces with their exact texts and sizes', async (t) => {
  const found = split(run({ query: '' }).out);
  for (const [index, [name, expected, size]] of pieces.entries())
    await t.test(name, () => {
      if (typeof expected === 'string') assert.equal(found[index], expected);
      else assert.match(found[index], expected);
      if (size !== null) assert.equal(found[index].length, size);
    });
});

test('every piece keeps the page rules', async (t) => {
  const out = run({ query: '' }).out;
  const body = out.slice(HTML_HEADER.length);
  const script = split(out)[8];
  const cases = [
    ['no double quote anywhere', () => assert.equal(body.includes('"'), false)],
    ['line feeds only after the doctype, in the example block and in the script', () => {
      const outside = body.replace(script, '');
      assert.equal(outside.split('\n').length - 1, 2);
      assert.ok(outside.startsWith('<!DOCTYPE html>\n'));
      assert.match(outside, /<pre>QUERY_STRING='action=info' [^\n<]+\nQUERY_STRING/);
    }],
    ['the script is plain ASCII', () => assert.match(script, /^[\x09\x0a\x20-\x7e]*$/)],
    ['the root element carries no theme as written', () => assert.match(body, /<html lang='en'><head>/)],
    ['the stylesheet is one line', () => assert.doesNotMatch(split(out)[2], /\n/)],
  ];
  for (const [name, check] of cases) await t.test(name, check);
});

test('the stylesheet declares the theme tokens the script and the page rely on', () => {
  const style = split(run({ query: '' }).out)[2];
  assert.ok(style.startsWith(':root{color-scheme:dark light;--bg:#0d0d10;--surface:#16161a;--surface2:#1e1e24;'));
  assert.ok(style.includes('html[data-theme=light]{--bg:#f4f4f7;--surface:#ffffff;--surface2:#f0f0f4;--text:#1c1c1e;--muted:#6b6b73;--line:rgba(0,0,0,.10)}'));
  assert.ok(style.includes('--accent2:#30d158;--danger:#ff453a;'));
  assert.ok(style.endsWith('@media(max-width:520px){body{padding:10px}.card{padding:12px}}</style></head><body><div class=\'wrap\'>'));
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
