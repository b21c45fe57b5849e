'use strict';
// A fork's life in scratch folders, for the checks of make fork and make update: an upstream made
// of this repository's files as they stand, forks of it, and edits and commits on either side.
// Commits carry an identity of their own, and pictures are never retaken (no Chromium), so that
// each step takes seconds.
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { REPOSITORY } = require('./plugin.js');

const WHO = { name: 'test', email: 'test@localhost' };
const ENV = {
  ...process.env,
  GIT_AUTHOR_NAME: WHO.name, GIT_AUTHOR_EMAIL: WHO.email, GIT_COMMITTER_NAME: WHO.name, GIT_COMMITTER_EMAIL: WHO.email,
  CHROMIUM: '/nonexistent',
};
// Not those of a make run around this one (make test's).
for (const name of ['MAKEFLAGS', 'MFLAGS', 'MAKELEVEL', 'NODE_TEST_CONTEXT']) delete ENV[name];

// Runs a command in `cwd`; `out` is what it wrote on both streams.
function run(cwd, command, ...args) {
  const result = spawnSync(command, args, { cwd, env: ENV, encoding: 'utf8', maxBuffer: 64 << 20 });
  return { ...result, out: `${result.stdout}${result.stderr}` };
}
const git = (cwd, ...args) => run(cwd, 'git', ...args).stdout.trim();
const read = (folder, file) => fs.readFileSync(path.join(folder, file), 'utf8');
const write = (folder, file, text) => fs.writeFileSync(path.join(folder, file), text);
const edit = (folder, file, change) => write(folder, file, change(read(folder, file)));

// Commits everything `change` did in `folder`.
function commit(folder, message, change = () => {}) {
  change();
  git(folder, 'add', '-A');
  const committed = run(folder, 'git', 'commit', '-q', '-m', message);
  assert.equal(committed.status, 0, committed.out);
}

// The files of this repository as they stand (tracked and new, less what .gitignore names).
function repositoryFiles() {
  const listed = spawnSync('git', ['ls-files', '-z', '--cached', '--others', '--exclude-standard'], { cwd: REPOSITORY });
  return listed.stdout.toString().split('\0').filter((file) => file && fs.lstatSync(path.join(REPOSITORY, file), { throwIfNoEntry: false })?.isFile());
}

// Copies this repository's files as they stand into `folder` over what is there.
function copyRepository(folder) {
  for (const file of repositoryFiles()) {
    fs.mkdirSync(path.join(folder, path.dirname(file)), { recursive: true });
    fs.copyFileSync(path.join(REPOSITORY, file), path.join(folder, file));
  }
}

// An upstream repository in `parent` holding this repository's files as they stand, in one commit.
function makeUpstream(parent) {
  const upstream = path.join(parent, 'upstream');
  copyRepository(upstream);
  git(upstream, 'init', '-q', '-b', 'main');
  commit(upstream, 'the upstream as it stands');
  return upstream;
}

// A fork of `upstream` named `name`, in `parent`; the node_modules of this repository serve it too.
function forkOf(upstream, name, parent, ...repo) {
  const folder = path.join(parent, `plugin_${name}`);
  const made = run(upstream, 'tools/fork/fork.js', name, folder, ...repo);
  assert.equal(made.status, 0, made.out);
  return folder;
}

const make = (folder, ...args) => run(folder, 'make', '-s', ...args);

// Runs node's test runner on `files` in `folder`; asserts they all pass.
function passes(folder, files) {
  const checked = run(folder, process.execPath, '--test', ...files);
  assert.equal(checked.status, 0, checked.stdout.split('\n').filter((line) => /^\s*(not ok|#|error|\s+\S+:)/.test(line)).slice(0, 80).join('\n'));
}

module.exports = { ENV, run, git, read, write, edit, commit, copyRepository, makeUpstream, forkOf, make, passes };
