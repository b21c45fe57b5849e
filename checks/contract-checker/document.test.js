'use strict';
// The document and the checker state one contract: the same version, the same rule ids at the
// same levels in the same order.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { ROOT } = require('./checker');

const DOCUMENT = fs.readFileSync(path.join(ROOT, 'docs/contract.md'), 'utf8');
const { CONTRACT_VERSION } = require('../../tools/contract/versions.js');
const RULES = require('../../tools/contract/rules');

test('docs/contract.md states the version the checker reports', () => {
  assert.deepEqual(DOCUMENT.match(/\*\*Contract version (\S+)\.\*\*/)?.[1], CONTRACT_VERSION);
});

test('docs/contract.md lists every rule of the checker, at its level, and no other', () => {
  const listed = [...DOCUMENT.matchAll(/^\| `([a-z-]+\.[a-z-]+)` \| (must|should) \|/gm)].map(([, id, level]) => `${id} ${level}`);
  assert.deepEqual(listed, RULES.map((rule) => `${rule.id} ${rule.level}`));
});
