'use strict';
// What an update does after git's merge, where git cannot know what a fork is:
//   - the README is the fork's own: the upstream's changes to its README are left out;
//   - the upstream plugin's own checks (test/**/UPSTREAM.test.js) are not the fork's to keep;
//   - the upstream's source file, src/plugin_UPSTREAM.cpp, is the fork's src/plugin_NAME.cpp: where
//     git's rename detection has not paired them (a fork that rewrote most of its file), the
//     upstream's change is merged into the fork's file three-way all the same, and recorded in
//     git's index as git records a merge of its own, a conflict as a conflict;
//   - the golden answers are never merged: the fork's stay through the merge, and are made anew
//     from the merged tree (make golden, which stages them while a merge is under way), so that the
//     diff it prints is the whole of what the update changes in them;
//   - the pictures are never merged line by line: where both sides changed one, the fork's stays,
//     and they are retaken from the merged build where Chromium is at hand.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { sourceOf, ownCheck, git, pluginNameAt } = require('./git.js');
const { pictureDriver } = require('../author/browser.js');

const README = 'README.md';
const GOLDEN = 'test/golden';
const PICTURE = /^docs\/[^/]*\.png$/;
// What the golden answers and the pictures are made from.
const GOLDEN_INPUTS = /^(src\/|platform\/|Makefile$|test\/golden\.js$|tools\/plugin\/|tools\/author\/golden(-answers)?\.js$)/;
const PICTURE_INPUTS = /^(src\/|platform\/|Makefile$|tools\/author\/)/;
const NO_OBJECT = '0'.repeat(40);

const lines = (text) => text.split('\n').filter(Boolean);
const unmerged = (root) => [...new Set(lines(git(root, ['diff', '--name-only', '--diff-filter=U']).out))];
// The paths under `where` that the merge changed, added or removed, conflicts included.
const changedBy = (root, where) => [...new Set([
  ...lines(git(root, ['diff', '--cached', '--name-only', '--no-renames', 'HEAD', '--', where]).out),
  ...lines(git(root, ['diff', '--name-only', '--diff-filter=U', '--', where]).out),
])];

// Puts back the fork's own version of each of `files`, or its absence.
function keepOurs(root, files) {
  if (files.length === 0) return;
  const inHead = new Set(lines(git(root, ['ls-tree', '-r', '--name-only', 'HEAD', '--', ...files]).out));
  const had = files.filter((file) => inHead.has(file));
  const added = files.filter((file) => !inHead.has(file));
  if (had.length > 0) git(root, ['checkout', 'HEAD', '--', ...had]);
  if (added.length > 0) git(root, ['rm', '-q', '-f', '--ignore-unmatch', '--', ...added]);
}

// Merges the upstream's change of its source file into the fork's, where git has not paired them,
// and records the result as git records a merge of its own: the file staged when the change merges,
// and otherwise the file with git's markers (labelled as git labels them) in the working tree and
// unmerged in the index, with the three versions git keeps of a conflict: 1 the upstream's source
// at the merge base, 2 the fork's, 3 the upstream's now. So git status says "both modified", git
// commit refuses it, git merge --abort puts it back and git mergetool opens it. The upstream's own
// path leaves the index and the working tree.
function followSource(root, name, upstream) {
  const theirs = sourceOf(upstream.from);
  const ours = sourceOf(name);
  const staged = git(root, ['ls-files', '-s', '--', theirs, ours]).out;
  if (name === upstream.from || !staged.includes(`\t${theirs}`) || !staged.includes(`\t${ours}`)) return;
  const base = git(root, ['merge-base', 'HEAD', 'MERGE_HEAD']).out;
  const baseSource = sourceOf(pluginNameAt(root, base) ?? upstream.from);
  const abbreviated = (rev, length) => git(root, ['rev-parse', `--short${length ? `=${length}` : ''}`, rev]).out;
  // [stage, where git keeps that version, git's label for it]; make update names the upstream's
  // commit to git merge by 12 characters, which git's own labels show.
  const versions = [
    [1, `${base}:${baseSource}`, `${abbreviated(base)}:${baseSource}`],
    [2, `HEAD:${ours}`, `HEAD:${ours}`],
    [3, `MERGE_HEAD:${theirs}`, `${abbreviated('MERGE_HEAD', 12)}:${theirs}`],
  ].map(([stage, version, label]) => ({ stage, label, object: git(root, ['rev-parse', '-q', '--verify', version]).out }));
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'update-'));
  let merged;
  try {
    const files = versions.map(({ stage, object }) => {
      const file = path.join(scratch, `${stage}`);
      fs.writeFileSync(file, object ? spawnSync('git', ['cat-file', 'blob', object], { cwd: root }).stdout : '');
      return file;
    });
    // git merge-file takes the fork's version, then the base, then the upstream's.
    const order = [1, 0, 2];
    const labels = order.flatMap((i) => ['-L', versions[i].label]);
    merged = spawnSync('git', ['merge-file', '-p', '--diff3', ...labels, ...order.map((i) => files[i])], { cwd: root });
  } finally {
    fs.rmSync(scratch, { recursive: true, force: true });
  }
  if (merged.status === null || merged.status > 127) throw new Error(`git merge-file could not merge ${theirs} into ${ours}: ${merged.stderr}`);
  const mode = staged.split('\n').find((entry) => entry.endsWith(`\t${ours}`)).split(' ')[0];
  fs.writeFileSync(path.join(root, ours), merged.stdout);
  fs.rmSync(path.join(root, theirs), { force: true });
  const entries = [`0 ${NO_OBJECT}\t${theirs}`, `0 ${NO_OBJECT}\t${ours}`];
  if (merged.status !== 0) entries.push(...versions.filter(({ object }) => object).map(({ stage, object }) => `${mode} ${object} ${stage}\t${ours}`));
  git(root, ['update-index', '--index-info'], { input: `${entries.join('\n')}\n` });
  if (merged.status === 0) git(root, ['add', '--', ours]);
}

// Makes the golden answers and the pictures anew where the merge changed what they come from (make
// golden stages its answers, a merge being under way). Returns { failed } and notes on what was
// done.
function remake(root, say, notes) {
  const changed = lines(git(root, ['diff', '--cached', '--name-only', 'HEAD']).out);
  let failed = false;
  if (changed.some((file) => GOLDEN_INPUTS.test(file))) {
    say('update: the golden answers, made anew from the merged tree:');
    failed = spawnSync('make', ['-s', 'golden'], { cwd: root, stdio: 'inherit' }).status !== 0;
  }
  if (!failed && changed.some((file) => PICTURE_INPUTS.test(file))) {
    // Chromium, and the browser driver that make test installs.
    const can = pictureDriver(root) !== null;
    const taken = can && spawnSync('make', ['-s', 'screenshots'], { cwd: root, stdio: 'ignore', timeout: 180000 }).status === 0;
    if (taken) git(root, ['add', '-A', '--', 'docs']);
    notes.push(taken ? 'the pictures in docs/ are retaken from the merged build' : 'make screenshots retakes the pictures in docs/, once make test has installed what it needs');
  }
  return { failed };
}

// Settles the merge git has made in `root` for the fork `name`; returns { conflicts, remade, notes }.
function settle(root, { name, upstream, say }) {
  const notes = [];
  if (changedBy(root, README).length > 0) {
    keepOurs(root, [README]);
    notes.push(`${README} is this plugin's own: the upstream's changes to its README are left out`);
  }
  if (name !== upstream.from) {
    const own = lines(git(root, ['ls-files']).out).filter((file) => ownCheck(upstream.from).test(file));
    for (const file of new Set(own)) git(root, ['rm', '-q', '-f', '--', file]);
  }
  followSource(root, name, upstream);
  keepOurs(root, [...changedBy(root, GOLDEN), ...unmerged(root).filter((file) => PICTURE.test(file))]);
  const conflicts = unmerged(root);
  if (conflicts.length > 0) {
    notes.push('the golden answers stay as they were until the conflicts are resolved; make golden then makes them anew, shows all that changed in them and stages it');
    return { conflicts, remade: { failed: false }, notes };
  }
  return { conflicts, remade: remake(root, say, notes), notes };
}

// Shows where each conflicted file holds both sides, up to `most` lines of each, and how many lines
// more there are where it shows fewer.
function showConflicts(root, files, say, most = 40) {
  for (const file of files) {
    const full = path.join(root, file);
    if (!fs.existsSync(full)) {
      say(`  ${file}: deleted on one side and changed on the other (git status says which); keep it or git rm it`);
      continue;
    }
    const inside = [];
    let open = false;
    fs.readFileSync(full, 'utf8').split('\n').forEach((line, index) => {
      if (/^<{7} /.test(line)) open = true;
      if (open) inside.push(`  ${file}:${index + 1}: ${line}`);
      if (/^>{7} /.test(line)) open = false;
    });
    if (inside.length === 0) say(`  ${file}: both sides changed it (git status says how)`);
    for (const line of inside.slice(0, most)) say(line);
    if (inside.length > most) say(`  ${file}: ${inside.length - most} more lines between its markers (git diff ${file} shows them all)`);
  }
}

module.exports = { settle, showConflicts };
