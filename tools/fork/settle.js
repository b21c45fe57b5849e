'use strict';
// What an update does after git's merge, where git cannot know what a fork is:
//   - the README is the fork's own: the upstream's changes to its README are left out;
//   - the upstream plugin's own checks (test/**/UPSTREAM.test.js) are not the fork's to keep;
//   - the upstream's source file, src/plugin_UPSTREAM.cpp, is the fork's src/plugin_NAME.cpp: where
//     git's rename detection has not paired them (a fork that rewrote most of its file), the
//     upstream's change is merged into the fork's file three-way all the same;
//   - the golden answers and the pictures are never merged: the fork's stay, and once the merge is
//     clean they are made anew from the merged tree, where it changed what they come from.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { DERIVED, sourceOf, ownCheck, git } = require('./git.js');

const README = 'README.md';
// What the golden answers and the pictures are made from.
const GOLDEN_INPUTS = /^(src\/|platform\/|Makefile$|test\/golden\.js$|checks\/support\/)/;
const PICTURE_INPUTS = /^(src\/|platform\/|Makefile$|tools\/author\/)/;
const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';

const lines = (text) => text.split('\n').filter(Boolean);
const unmerged = (root) => [...new Set(lines(git(root, ['diff', '--name-only', '--diff-filter=U']).out))];
const inHead = (root, file) => git(root, ['cat-file', '-e', `HEAD:${file}`]).ok;
const inIndex = (root, file) => git(root, ['ls-files', '--', file]).out !== '';

// Puts back the fork's own version of `file`, or its absence.
function keepOurs(root, file) {
  if (inHead(root, file)) git(root, ['checkout', 'HEAD', '--', file]);
  else git(root, ['rm', '-q', '-f', '--ignore-unmatch', '--', file]);
}

// Merges the upstream's change of its source file into the fork's, when git has not. Returns
// whether the fork's file now holds conflict markers.
function followSource(root, name, upstream) {
  const theirs = sourceOf(upstream.from);
  const ours = sourceOf(name);
  if (name === upstream.from || !inIndex(root, theirs) || !fs.existsSync(path.join(root, ours))) return false;
  const base = git(root, ['merge-base', 'HEAD', 'MERGE_HEAD']).out;
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'update-'));
  try {
    const write = (label, rev) => {
      const file = path.join(scratch, label);
      fs.writeFileSync(file, spawnSync('git', ['cat-file', 'blob', `${rev}:${theirs}`], { cwd: root }).stdout ?? '');
      return file;
    };
    const merged = spawnSync('git', ['merge-file', '-p', '--diff3', '-L', 'yours', '-L', 'the upstream before', '-L', 'the upstream now',
      path.join(root, ours), write('base', base), write('next', 'MERGE_HEAD')], { cwd: root });
    fs.writeFileSync(path.join(root, ours), merged.stdout);
    git(root, ['rm', '-q', '-f', '--', theirs]);
    if (merged.status === 0) git(root, ['add', '--', ours]);
    return merged.status !== 0;
  } finally {
    fs.rmSync(scratch, { recursive: true, force: true });
  }
}

// Makes the golden answers and the pictures anew where the merge changed what they come from, and
// stages them. Returns { failed } and notes on what was done.
function remake(root, say, notes) {
  const changed = lines(git(root, ['diff', '--cached', '--name-only', 'HEAD']).out);
  let failed = false;
  if (changed.some((file) => GOLDEN_INPUTS.test(file))) {
    say('update: the golden answers, made anew from the merged tree:');
    failed = spawnSync('make', ['-s', 'golden'], { cwd: root, stdio: 'inherit' }).status !== 0;
    git(root, ['add', '-A', '--', 'test/golden']);
  }
  if (!failed && changed.some((file) => PICTURE_INPUTS.test(file))) {
    // Chromium, and the browser driver that make test installs.
    const can = fs.existsSync(CHROMIUM) && fs.existsSync(path.join(root, 'node_modules', 'playwright-core'));
    const taken = can && spawnSync('make', ['-s', 'screenshots'], { cwd: root, stdio: 'ignore', timeout: 180000 }).status === 0;
    if (taken) git(root, ['add', '-A', '--', 'docs']);
    notes.push(taken ? 'the pictures in docs/ are retaken from the merged build' : 'make screenshots retakes the pictures in docs/, once make test has installed what it needs');
  }
  return { failed };
}

// Settles the merge git has made in `root` for the fork `name`; returns { conflicts, remade, notes }.
function settle(root, { name, upstream, say }) {
  const notes = [];
  if (git(root, ['diff', '--quiet', 'HEAD', '--', README]).status !== 0 || unmerged(root).includes(README)) {
    keepOurs(root, README);
    notes.push(`${README} is this plugin's own: the upstream's changes to its README are left out`);
  }
  if (name !== upstream.from) {
    const own = lines(git(root, ['ls-files']).out).filter((file) => ownCheck(upstream.from).test(file));
    for (const file of new Set(own)) git(root, ['rm', '-q', '-f', '--', file]);
  }
  const sourceConflict = followSource(root, name, upstream);
  for (const file of unmerged(root).filter((file) => DERIVED.some((pattern) => pattern.test(file)))) keepOurs(root, file);
  const conflicts = [...unmerged(root), ...(sourceConflict ? [sourceOf(name)] : [])];
  if (conflicts.length > 0) {
    notes.push('the golden answers and pictures are made anew once the conflicts are resolved: make golden');
    return { conflicts, remade: { failed: false }, notes };
  }
  return { conflicts, remade: remake(root, say, notes), notes };
}

// Shows where each conflicted file holds both sides, a few lines of each.
function showConflicts(root, files, say, most = 40) {
  for (const file of files) {
    const full = path.join(root, file);
    if (!fs.existsSync(full)) {
      say(`  ${file}: deleted on one side and changed on the other (git status says which); keep it or git rm it`);
      continue;
    }
    const text = fs.readFileSync(full, 'utf8').split('\n');
    const shown = [];
    let inside = false;
    text.forEach((line, index) => {
      if (/^<{7}( |$)/.test(line)) inside = true;
      if (inside && shown.length < most) shown.push(`  ${file}:${index + 1}: ${line}`);
      if (/^>{7}( |$)/.test(line)) inside = false;
    });
    for (const line of shown.length > 0 ? shown : [`  ${file}: both sides changed it (git status says how)`]) say(line);
  }
}

module.exports = { settle, showConflicts };
