'use strict';
// The one file in dist/ is the checker whole: made in a folder of its own, away from the
// checkout, it lists the same rules, judges a plugin as the checker in tools/ does, and names the
// contract version it holds.
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { ROOT, checker, plugin } = require('./checker');
const { CONTRACT_VERSION } = require('../../tools/contract/versions.js');

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'plugin-contract-'));
test.after(() => fs.rmSync(scratch, { recursive: true, force: true }));
const ONE_FILE = path.join(scratch, 'plugin-contract.js');
const made = spawnSync(process.execPath, [path.join(ROOT, 'tools/contract/bundle.js'), ONE_FILE], { encoding: 'utf8' });

test('the one file lists the same rules and names the contract version', async () => {
  assert.equal(made.status, 0, made.stderr);
  const [bundled, modular] = await Promise.all([checker(['--list'], { command: ONE_FILE }), checker(['--list'])]);
  assert.equal(bundled.stdout, modular.stdout);
  assert.ok(bundled.stdout.split('\n').length > 30);
  assert.match(fs.readFileSync(ONE_FILE, 'utf8').split('\n').slice(0, 4).join('\n'), new RegExp(`contract\\n// ${CONTRACT_VERSION.replace('.', '\\.')} `));
  assert.match((await checker(['--help'], { command: ONE_FILE })).stdout, new RegExp(`^usage: node plugin-contract\\.js [\\s\\S]*contract ${CONTRACT_VERSION.replace('.', '\\.')}\\n`));
});

test('the one file, run from another folder, judges a plugin as the checker in tools/ does', async () => {
  const args = ['--format', 'json', '--rule', 'gate', '--rule', 'host.full-device', plugin('no-gate.sh')];
  const [bundled, modular] = await Promise.all([checker(args, { command: ONE_FILE, cwd: scratch }), checker(args, { cwd: scratch })]);
  const statuses = (report) => report.results.map((result) => `${result.id} ${result.status}`);
  assert.deepEqual(statuses(bundled.report), statuses(modular.report));
  assert.ok(statuses(bundled.report).includes('gate.refusal fail'));
  assert.equal(bundled.status, 1);
  assert.equal(bundled.report.contract, CONTRACT_VERSION);
});
