#!/usr/bin/env node
'use strict';
// Makes a fork of this plugin: a clone of this repository, with its history, and one commit more
// that makes it a plugin of its own (tools/fork/git.js says what that commit holds). The fork
// then builds, writes its golden answers and, where Chromium is at hand, retakes its pictures, all
// in that one commit, so that a new fork is green at once.
const fs = require('node:fs');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { command } = require('../cli.js');
const { nameIn } = require('../plugin/checkout.js');
const { pictureDriver } = require('../author/browser.js');
const { NAME, ADDRESS, UPSTREAM_FILE, git, authorship, forkCommit } = require('./git.js');

const USAGE = `usage: make fork NAME=name DIR=folder [REPO=clone address]
   or: tools/fork/fork.js NAME DIR [REPO]

Makes DIR a fork of this plugin named NAME (lower-case letters, digits and _, from a letter): a
clone of this repository with one commit more, in which src/plugin_NAME.cpp is the plugin's source,
REPO its clone address on the page (a placeholder without it), and ${UPSTREAM_FILE} the address that
make update takes this plugin's later work from.`;

const root = path.resolve(__dirname, '..', '..');
const { positionals: [name, target, repo], say, fail } = command('fork', USAGE, { positionals: ['NAME', 'DIR', 'REPO?'] });

// Where the fork takes its updates from: this repository's own upstream (its origin), or this
// folder when it has none.
function upstreamAddress() {
  const origin = git(root, ['remote', 'get-url', 'origin']);
  return origin.ok && origin.out ? origin.out : root;
}

// Builds the fork, and makes its golden answers and, where Chromium and the browser driver are at
// hand, its pictures anew; returns a line for each that could not be done.
function remakeDerived(fork) {
  const quiet = { cwd: fork, stdio: ['ignore', 'ignore', 'pipe'], encoding: 'utf8' };
  const later = [];
  if (spawnSync('make', ['-s', 'golden'], quiet).status !== 0)
    return ['the fork does not build here, so its golden answers still show the upstream: make golden there, then commit'];
  const driver = pictureDriver(root);
  const env = { ...process.env, NODE_PATH: driver ? path.dirname(driver) : '' };
  const pictures = driver &&
    spawnSync('tools/author/screenshots.js', ['docs'], { ...quiet, env, timeout: 120000 }).status === 0;
  if (!pictures) later.push('the pictures in docs/ still show the upstream\'s page: make screenshots there, then commit');
  return later;
}

function main() {
  if (!NAME.test(name)) fail(`"${name}" is not a name for a plugin: start with a letter a-z, then letters, digits and underscores`);
  const from = nameIn(root);
  if (name === from) fail(`the plugin is already called "${from}"`);
  if (repo !== undefined && !ADDRESS.test(repo)) fail(`"${repo}" is not a clone address the page can show: no spaces, quotes, "<", ">" or "&"`);
  const destination = path.resolve(target);
  if (fs.existsSync(destination)) fail(`${target} exists already; name a folder that does not`);
  const head = git(root, ['rev-parse', 'HEAD']);
  if (!head.ok) fail(`${root} has no commit to fork: make fork clones it, history and all`);

  const upstream = upstreamAddress();
  const cloned = git(root, ['clone', '-q', root, destination]);
  if (!cloned.ok) fail(`git clone failed: ${cloned.error}`);
  git(destination, ['remote', 'remove', 'origin']);
  if (repo !== undefined) git(destination, ['remote', 'add', 'origin', repo]);
  const message = `Fork plugin_${from} as plugin_${name}\n\nMade with make fork from ${upstream} at ${head.out}.`;
  let commit;
  try {
    commit = forkCommit(destination, { base: head.out, from, name, repo: repo ?? null, upstream, message });
  } catch (error) {
    fs.rmSync(destination, { recursive: true, force: true });
    fail(`making the fork's commit failed: ${error.message}`);
  }
  git(destination, ['reset', '-q', '--hard', commit]);
  const later = remakeDerived(destination);
  git(destination, ['add', '-A', 'test/golden', 'docs']);
  if (git(destination, ['diff', '--cached', '--quiet']).status === 1)
    git(destination, ['commit', '-q', '--amend', '--no-edit'], { env: authorship(destination) });

  say(`fork: plugin_${name} is in ${target}, a clone of ${upstream} with one commit of its own on top of ${head.out.slice(0, 12)}`);
  if (git(root, ['status', '--porcelain', '--untracked-files=no']).out !== '')
    say(`fork: ${root} has uncommitted changes, which the fork does not have: it is made from the last commit`);
  for (const line of later) say(`fork: ${line}`);
  if (repo === undefined) say(`fork: the page's clone address is a placeholder: put yours in src/page/guide.html and run make golden`);
  say(`fork: next, cd ${target} and run make test; make update takes ${upstream}'s later work`);
}

main();
