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

const LOCKED = { BOT_PASSWORD: 'node-secret' };

test('arguments and DV_PLUGIN_META choose the answer', async (t) => {
  const table = [
    { name: '--meta', args: ['--meta'], kind: 'meta' },
    { name: '--meta with more arguments', args: ['--meta', '--version', 'x'], kind: 'meta' },
    { name: 'DV_PLUGIN_META empty counts as set', env: { DV_PLUGIN_META: '' }, kind: 'meta' },
    { name: 'DV_PLUGIN_META beats --version', args: ['--version'], env: { DV_PLUGIN_META: '0' }, kind: 'meta' },
    { name: 'DV_PLUGIN_META beats a request and the gate', env: { DV_PLUGIN_META: '', ...LOCKED }, query: 'action=info', kind: 'meta' },
    { name: '--meta skips the gate', args: ['--meta'], env: LOCKED, kind: 'meta' },
    { name: '--version', args: ['--version'], kind: 'version' },
    { name: '-v', args: ['-v', '--meta'], kind: 'version' },
    { name: '--version skips the gate', args: ['--version'], env: LOCKED, kind: 'version' },
    { name: '-v skips the gate', args: ['-v'], env: LOCKED, query: 'action=info', kind: 'version' },
    { name: '--META is a request', args: ['--META'], kind: 'page' },
    { name: '--meta=1 is a request', args: ['--meta=1'], kind: 'page' },
    { name: '--metax is a request', args: ['--metax'], kind: 'page' },
    { name: '--meta second is a request', args: ['x', '--meta'], kind: 'page' },
    { name: '-V is a request', args: ['-V'], kind: 'page' },
    { name: '--Version is a request', args: ['--Version'], kind: 'page' },
    { name: 'empty first argument is a request', args: [''], query: 'action=echo', kind: 'json' },
    { name: 'an ignored argument still meets the gate', args: ['--metax'], env: LOCKED, kind: 'refusal' },
    { name: 'no argument, locked node', env: LOCKED, kind: 'refusal' },
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
