#!/usr/bin/env node
'use strict';
// Takes the upstream's later work into this fork with git's own merge. A fork shares its
// upstream's history, so an update is `git merge` of the upstream's commit, fetched from the
// address in .upstream (or FROM, which .upstream then keeps), with git's rename detection and its
// record of what is still unmerged. The merge is left uncommitted, for the author to review, test
// and commit; `git merge --abort` or `git reset --hard` gives it up, and the next update brings
// it again whole. Around the merge, what git cannot know of a fork (tools/fork/settle.js): its
// README is its own, its golden answers and pictures are made anew rather than merged, the
// upstream's own checks are not its to keep, and the upstream's source file is its own.
//
// Nothing broken passes: conflict markers left in a tracked file stop it, as they stop make. A
// fork made by the earlier, renaming make fork (it has a .upstream.json) becomes one that shares
// the upstream's history with its first update (tools/fork/adopt.js).
const fs = require('node:fs');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { command } = require('../cli.js');
const { nameIn } = require('../plugin/checkout.js');
const { UPSTREAM_FILE, git, authorship, pluginNameAt, readUpstream } = require('./git.js');
const { OLD_RECORD, readOldRecord, adopt } = require('./adopt.js');
const { settle, showConflicts } = require('./settle.js');

const USAGE = `usage: make update [FROM=path or git address] [TO=commit, tag or branch] [CHECK=1]
   or: tools/fork/update.js [--from ADDRESS] [--to COMMIT] [--check]

Merges the upstream's later work into this fork, and leaves the merge for you to review
(git diff --cached), test (make test) and commit (git commit); git merge --abort gives it up.
  FROM    where the upstream is (a folder or a git address); kept in ${UPSTREAM_FILE} for next time
  TO      a branch, tag or commit of the upstream (its default branch when not given)
  CHECK   only say which of the upstream's commits are not taken yet (exit 1 if any)`;

const { values: given, say, fail } = command('update', USAGE, {
  options: { from: { type: 'string' }, to: { type: 'string' }, check: { type: 'boolean' } },
});
// The fork is the current folder: make update runs there, also as make -f KIT/Makefile update.
const root = process.cwd();
const MARKERS = path.join(__dirname, 'markers');
const short = (commit) => commit.slice(0, 12);
const plural = (count, word) => `${count} ${word}${count === 1 ? '' : 's'}`;

/* ==== Before anything changes ==== */

function preflight() {
  if (git(root, ['rev-parse', '--show-toplevel']).out !== fs.realpathSync(root) || !git(root, ['rev-parse', '-q', '--verify', 'HEAD']).ok)
    fail('run it at the top of the fork, a git repository with a commit');
  if (git(root, ['rev-parse', '-q', '--verify', 'MERGE_HEAD']).ok)
    fail('an update is under way and not yet committed: resolve what it lists, make golden, make test, git commit; or git merge --abort to give it up');
  const branch = git(root, ['symbolic-ref', '-q', '--short', 'HEAD']).out;
  if (!branch && !given.check)
    fail('HEAD is detached (on no branch), and a merge made here would be lost once you check out a branch: git switch to yours (git branch lists them), then make update');
  const markers = spawnSync(MARKERS, [], { cwd: root, stdio: ['ignore', 'ignore', 'inherit'] });
  if (markers.status !== 0) fail('the fork holds conflict markers (above), committed by mistake: resolve them and commit before the next update');
  if (!given.check && git(root, ['status', '--porcelain', '--untracked-files=no']).out !== '')
    fail('the working tree has uncommitted changes (git status): commit or stash them first, so that the update can be reviewed and undone on its own');
  return branch;
}

// The fork's other branches that have taken upstream work this one has not, up to `target`: where
// the updates before this one went. A branch of the upstream's own history is not the fork's.
function branchesAhead(branch, target) {
  return git(root, ['for-each-ref', '--format=%(refname:short)', 'refs/heads']).out.split('\n').filter((other) => {
    if (!other || other === branch || git(root, ['merge-base', '--is-ancestor', other, target]).ok) return false;
    const taken = git(root, ['merge-base', other, target]).out;
    return taken !== '' && !git(root, ['merge-base', '--is-ancestor', taken, 'HEAD']).ok;
  });
}

/* ==== The upstream ==== */

// Fetches every branch and tag of the upstream into refs/upstream/ (the fork's own branches and
// tags are left alone) and finds the commit to take. `named` says where the address comes from.
function fetchUpstream(address, to, named) {
  const fetched = git(root, ['fetch', '-q', '--no-tags', '--prune', address,
    '+HEAD:refs/upstream/HEAD', '+refs/heads/*:refs/upstream/heads/*', '+refs/tags/*:refs/upstream/tags/*']);
  if (!fetched.ok) {
    // An address without "host:" or "scheme://" is a folder.
    const why = !/^[^/]*:/.test(address) && !fs.existsSync(address) ? 'there is no such folder' : fetched.error;
    fail(`cannot fetch the upstream from ${address}, which ${named} names: ${why}. Name its folder or git address with make update FROM=...`);
  }
  const commitOf = (rev) => git(root, ['rev-parse', '-q', '--verify', `${rev}^{commit}`]).out;
  const target = to === undefined
    ? commitOf('refs/upstream/HEAD')
    : commitOf(`refs/upstream/heads/${to}`) || commitOf(`refs/upstream/tags/${to}`) || (/^[0-9a-f]{4,40}$/.test(to) ? commitOf(to) : '');
  if (!target) fail(to === undefined ? `${address} has no commit` : `${to} is not a branch, tag or commit of ${address}`);
  const from = pluginNameAt(root, target);
  if (!from || !git(root, ['cat-file', '-e', `${target}:tools/fork/update.js`]).ok)
    fail(`${address} at ${short(target)} is not a plugin of this kit: it has no src/plugin_NAME.cpp or no tools/fork/update.js`);
  return { address, target, from, label: to ?? 'its default branch' };
}

// The upstream's commits from `since` to the target, newest first, as "id subject".
const commitsOf = (range) => git(root, ['log', '--format=%h %s', range]).out.split('\n').filter(Boolean);

// Keeps FROM for the next update, as a commit of its own, so that giving up an update keeps it.
// Returns whether it made that commit.
function rememberAddress(address) {
  if (readUpstream(root) === address) return false;
  fs.writeFileSync(path.join(root, UPSTREAM_FILE), `${address}\n`);
  git(root, ['add', UPSTREAM_FILE]);
  const committed = git(root, ['commit', '-q', '-m', `Take updates from ${address}`], { env: authorship(root) });
  if (!committed.ok) fail(`cannot commit ${UPSTREAM_FILE}: ${committed.error}`);
  return true;
}

/* ==== The update ==== */

function check(upstream, pending) {
  if (pending.length === 0) {
    say(`update: up to date with ${upstream.address} (${short(upstream.target)})`);
    return 0;
  }
  say(`update: ${plural(pending.length, 'commit')} of ${upstream.address} not taken yet, to ${short(upstream.target)}; make update takes them:`);
  for (const line of pending) say(`  ${line}`);
  return 1;
}

// Starts git's merge of the upstream's commit; where it does not start, `undo` puts back what was
// done for it, and it ends saying why.
function merge(upstream, pending, undo) {
  say(`update: taking ${plural(pending.length, 'commit')} of plugin_${upstream.from} from ${upstream.address}, to ${short(upstream.target)}`);
  const message = `Take plugin_${upstream.from}'s work to ${short(upstream.target)}\n\nMerged with make update from ${upstream.address}.`;
  const merged = git(root, ['-c', 'merge.conflictStyle=diff3', 'merge', '--no-ff', '--no-commit', '-m', message, short(upstream.target)]);
  if (git(root, ['rev-parse', '-q', '--verify', 'MERGE_HEAD']).ok) return;
  undo();
  // git lists the files in its way one a line, indented, after the line that says why.
  const inTheWay = /untracked working tree files would be (\w+) by merge:\n((?:\t.*\n)+)/.exec(merged.stderr);
  if (inTheWay) {
    const files = inTheWay[2].trim().split(/\n\t/);
    fail(`git merge stopped before it began: the upstream's work would ${inTheWay[1] === 'removed' ? 'remove' : 'overwrite'} ${files.join(', ')}, ` +
      `which git does not track here: move ${files.length === 1 ? 'it' : 'them'} out of the way (or git add and commit ${files.length === 1 ? 'it' : 'them'}), then make update again`);
  }
  fail(`git merge did not start: ${merged.error || merged.out.split('\n').pop()}`);
}

function report(upstream, { conflicts, remade, notes }) {
  const changed = git(root, ['diff', '--cached', '--name-only', 'HEAD']).out.split('\n').filter(Boolean);
  say(`update: merged, ${plural(changed.length, 'file')} changed (git diff --cached --stat lists them)`);
  for (const note of notes) say(`update: ${note}`);
  if (conflicts.length > 0) {
    showConflicts(root, conflicts, say);
    say(`update: ${plural(conflicts.length, 'file')} to resolve (unmerged, as git status lists them): ${conflicts.join(', ')}`);
    say('update: in each, from <<<<<<< to >>>>>>> stand your lines, the upstream\'s old ones (after |||||||)');
    say('update: and its new ones (after =======): keep what is right, remove the markers, git add the file;');
    say('update: then make golden (it stages the answers it remakes), make test and git commit.');
    say('update: git merge --abort gives the update up; the next make update brings it again whole.');
    return 1;
  }
  if (remade.failed) {
    say(`update: the merge is clean, but the build fails (above): fix it, then make golden, make test, git commit`);
    return 1;
  }
  say(`update: review it with git diff --cached, run make test, then git commit (its message is ready);`);
  say('update: git merge --abort gives it up, and the next make update brings it again whole');
  return 0;
}

function main() {
  const branch = preflight();
  // Read before the merge, which may bring the upstream's source file in beside this plugin's.
  const name = nameIn(root);
  if (!name) fail('src/ holds no one file src/plugin_NAME.cpp, which names this plugin');
  const record = fs.existsSync(path.join(root, OLD_RECORD)) ? readOldRecord(root, fail) : null;
  const address = given.from ?? record?.upstream ?? readUpstream(root);
  if (!address) fail(`there is no ${UPSTREAM_FILE}, so where this plugin's upstream is is not known: make update FROM=<path or git address>`);
  const named = given.from !== undefined ? 'FROM' : record ? OLD_RECORD : UPSTREAM_FILE;
  const upstream = fetchUpstream(fs.existsSync(address) ? path.resolve(address) : address, given.to, named);

  if (record) {
    if (!git(root, ['cat-file', '-e', `${record.commit}^{commit}`]).ok)
      fail(`${OLD_RECORD} names ${short(record.commit)}, which ${upstream.address} does not have: name its upstream with FROM=`);
    if (!git(root, ['merge-base', '--is-ancestor', record.commit, upstream.target]).ok)
      fail(`${upstream.label} of ${upstream.address} does not contain ${short(record.commit)}, the commit this fork came from`);
    const pending = commitsOf(`${record.commit}..${upstream.target}`);
    if (given.check || pending.length === 0) return check(upstream, pending);
    say(`update: taking ${plural(pending.length, 'commit')} of plugin_${upstream.from} from ${upstream.address}, to ${short(upstream.target)};`);
    say(`update: this fork was made by the earlier make fork, and from this update on it shares the upstream's history`);
    adopt(root, upstream, record, fail);
  } else {
    const pending = commitsOf(`HEAD..${upstream.target}`);
    if (given.check || pending.length === 0) return check(upstream, pending);
    if (!git(root, ['merge-base', 'HEAD', upstream.target]).ok)
      fail(`${upstream.address} shares no history with this fork, so it is not the upstream the fork was made from: name that one with FROM=`);
    const head = git(root, ['rev-parse', 'HEAD']).out;
    const remembered = given.from !== undefined && rememberAddress(upstream.address);
    merge(upstream, pending, () => remembered && git(root, ['reset', '-q', '--keep', head]));
    if (remembered) say(`update: ${UPSTREAM_FILE} now names ${upstream.address}, committed, so a plain make update takes from there`);
  }
  const ahead = branchesAhead(branch, upstream.target);
  if (ahead.length > 0)
    say(`update: note: this merge goes into ${branch}, and ${ahead.join(', ')} has taken upstream work that ${branch} has not; to update ${ahead[0]} instead: git merge --abort, git switch ${ahead[0]}, make update`);
  let settled;
  try {
    settled = settle(root, { name, upstream, say });
  } catch (error) {
    fail(`${error.message}; git merge --abort gives the update up`);
  }
  return report(upstream, settled);
}

process.exitCode = main();
