'use strict';
// Which answer a run gives: meta, version, JSON or page, from the arguments and the query string.
const test = require('node:test');
const assert = require('node:assert/strict');
const { run, identity, REFUSAL, JSON_HEADER, HTML_HEADER } = require('../support/plugin');

const { meta, versionLine } = identity();
const PAGE = run({ query: '' }).out;
const EMBEDDED_PAGE = run({ query: 'embed=1' }).out;

// The kind of answer in `out`, judged by its opening bytes.
function kindOf(out) {
  if (out === meta) return 'meta';
  if (out === versionLine) return 'version';
  if (out === REFUSAL) return 'refusal';
  if (out.startsWith(JSON_HEADER)) return 'json';
  if (out.startsWith(HTML_HEADER + '<!DOCTYPE html>\n')) return 'page';
  return `something else: ${JSON.stringify(out.slice(0, 80))}`;
}


// The meta record and version line, and which arguments and variables ask for them, are the host
// contract's (host.test.js); these are the near misses a plugin made from this kit takes for requests.
test('arguments that only look like a question of the host are requests', async (t) => {
  const table = [
    { name: '--metax is a request', args: ['--metax'], kind: 'page' },
    { name: '-V is a request', args: ['-V'], kind: 'page' },
    { name: '--Version is a request', args: ['--Version'], kind: 'page' },
    { name: 'empty first argument is a request', args: [''], query: 'action=echo', kind: 'json' },
  ];
  for (const row of table)
    await t.test(row.name, () => {
      const result = run(row);
      assert.equal(kindOf(result.out), row.kind);
      assert.equal(result.status, 0);
      assert.equal(result.err, '');
    });
});

test('the raw query string selects JSON by substring, case-sensitively', async (t) => {
  const table = [
    [undefined, 'page'],
    ['', 'page'],
    ['action=info', 'json'],
    ['format=json', 'json'],
    ['transaction=5', 'json'],
    ['xformat=jsonp', 'json'],
    ['msg=say+action=now', 'json'],
    ['embed=1&action=info', 'json'],
    ['action%3Dinfo', 'page'],
    ['format=JSON', 'page'],
    ['Action=info', 'page'],
    ['format%3Djson', 'page'],
    ['action', 'page'],
  ];
  for (const [query, kind] of table)
    await t.test(String(query), () => assert.equal(kindOf(run({ query }).out), kind));
});

test('the embed flag hides the back bar only for a decoded "1" or "true"', async (t) => {
  const table = [
    [undefined, true],
    ['', true],
    ['embed=1', false],
    ['embed=true', false],
    ['x=2&embed=true&y', false],
    ['embed=TRUE', true],
    ['embed=yes', true],
    ['embed=0', true],
    ['embed=', true],
    ['embed=+1', true],
    ['embed=1+', true],
    ['embed=%31', false],
    ['embed=%74%72%75%65', false],
    ['embed=1%00x', false],
    ['Embed=1', true],
    ['%65mbed=1', true],
    ['xembed=1', true],
    ['embed=1&embed=0', false],
    ['embed=0&embed=1', true],
    // 15 raw bytes are read: the NUL that ends "true" is the last of them.
    ['embed=%74%72%75%65%00', false],
    ['embed=%74%72%75%65%00garbage', false],
  ];
  for (const [query, backBarShown] of table)
    await t.test(String(query), () => assert.equal(run({ query }).out, backBarShown ? PAGE : EMBEDDED_PAGE));
});

test('the embedded page is the full page without one piece, the bar linking back to the host', () => {
  let start = 0;
  while (PAGE[start] === EMBEDDED_PAGE[start]) start++;
  const removed = PAGE.slice(start, start + PAGE.length - EMBEDDED_PAGE.length);
  assert.equal(PAGE.slice(0, start) + PAGE.slice(start + removed.length), EMBEDDED_PAGE);
  assert.match(removed, /href='\/'>/);
  assert.equal(run({}).out, PAGE);
});
