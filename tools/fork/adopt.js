'use strict';
// The first update of a fork made by the earlier make fork, which copied the kit with the plugin's
// name written into every file and kept its ancestry in .upstream.json, not in git's history. Such
// a fork is merged once with git's own three-way merge against what it was made from, so that its
// edits are kept and its conflicts shown, and from then on it shares the upstream's history:
//   base   the upstream at the commit the record names, renamed by that commit's own fork tool,
//          which is what the fork was made from (or last updated to)
//   theirs the upstream's commit to take, forked as this plugin the way make fork now does, a
//          commit whose parent is that upstream commit
// The merge is left uncommitted, as every update is; committing it records the upstream's commit
// as merged, and .upstream.json gives way to .upstream.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { NAME, ADDRESS, git, authorship, forkCommit } = require('./git.js');

const OLD_RECORD = '.upstream.json';

// The record as the earlier make fork wrote it; ends the process, saying why, when it is not one.
function readOldRecord(root, fail) {
  let record;
  try {
    record = JSON.parse(fs.readFileSync(path.join(root, OLD_RECORD), 'utf8'));
  } catch (error) {
    fail(`${OLD_RECORD} is not JSON (${error.message}): restore it with git checkout ${OLD_RECORD}`);
  }
  const wrong = [
    [typeof record?.upstream === 'string' && record.upstream !== '', 'upstream'],
    [/^[0-9a-f]{40}$/.test(record?.commit), 'commit'],
    [NAME.test(record?.name), 'name'],
    [record?.repo === null || ADDRESS.test(record?.repo), 'repo'],
  ].filter(([good]) => !good).map(([, key]) => key);
  if (wrong.length > 0) fail(`${OLD_RECORD} is not a record make fork writes: ${wrong.join(', ')} missing or wrong; restore it with git checkout ${OLD_RECORD}`);
  return record;
}

// The commit of the tree that the record's commit's own fork tool makes of it for this fork.
function renamedBase(root, record, scratch) {
  const checkout = path.join(scratch, 'upstream');
  const made = path.join(scratch, 'fork');
  const added = git(root, ['worktree', 'add', '-q', '--detach', checkout, record.commit]);
  if (!added.ok) throw new Error(`cannot check out ${record.commit}: ${added.error}`);
  try {
    const env = { ...process.env, CHROMIUM: path.join(scratch, 'no-browser') };
    const forked = spawnSync(process.execPath, [path.join(checkout, 'tools', 'fork'), record.name, made, ...(record.repo ? [record.repo] : [])],
      { cwd: checkout, env, encoding: 'utf8' });
    if (forked.status !== 0) throw new Error(`its fork tool at ${record.commit.slice(0, 12)} failed: ${(forked.stderr || '').trim()}`);
  } finally {
    git(root, ['worktree', 'remove', '--force', checkout]);
  }
  fs.rmSync(path.join(made, '.git'), { recursive: true, force: true });
  fs.rmSync(path.join(made, OLD_RECORD), { force: true });
  const gitDir = git(root, ['rev-parse', '--absolute-git-dir']).out;
  const env = { GIT_INDEX_FILE: path.join(scratch, 'index'), GIT_DIR: gitDir, GIT_WORK_TREE: made };
  const step = (args) => {
    const done = git(made, args, { env });
    if (!done.ok) throw new Error(`git ${args[0]}: ${done.error}`);
    return done.out;
  };
  step(['add', '-A', '.']);
  const tree = step(['write-tree']);
  const committed = git(root, ['commit-tree', tree, '-m', `plugin_${record.name} as the earlier make fork made it`], { env: authorship(root) });
  if (!committed.ok) throw new Error(`git commit-tree: ${committed.error}`);
  return committed.out;
}

// Merges `upstream` (fetched, as update.js finds it) into the fork at `root` as described above,
// and leaves the merge in progress, as git merge --no-commit would.
function adopt(root, upstream, record, fail) {
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'adopt-'));
  try {
    const base = renamedBase(root, record, scratch);
    const message = `Fork plugin_${upstream.from} as plugin_${record.name}\n\nThe fork as make fork now makes it, from ${upstream.address} at ${upstream.target}.`;
    const theirs = forkCommit(root, { base: upstream.target, from: upstream.from, name: record.name, repo: record.repo, upstream: upstream.address, message });
    const merged = git(root, ['-c', 'merge.conflictStyle=diff3', 'merge-recursive', base, '--', 'HEAD', theirs]);
    if (merged.status !== 0 && merged.status !== 1) throw new Error(`git merge-recursive: ${merged.error}`);
    const gitPath = (file) => path.resolve(root, git(root, ['rev-parse', '--git-path', file]).out);
    git(root, ['update-ref', 'ORIG_HEAD', 'HEAD']);
    fs.writeFileSync(gitPath('MERGE_HEAD'), `${theirs}\n`);
    fs.writeFileSync(gitPath('MERGE_MODE'), 'no-ff');
    fs.writeFileSync(gitPath('MERGE_MSG'), `Take plugin_${upstream.from}'s work to ${upstream.target.slice(0, 12)}, and its history\n\n` +
      `Merged with make update from ${upstream.address}: from here on this fork shares the upstream's history.\n`);
    git(root, ['rm', '-q', '-f', '--cached', '--ignore-unmatch', '--', OLD_RECORD]);
    fs.rmSync(path.join(root, OLD_RECORD), { force: true });
  } catch (error) {
    fail(`the first update of this fork failed: ${error.message}`);
  } finally {
    fs.rmSync(scratch, { recursive: true, force: true });
  }
}

module.exports = { OLD_RECORD, readOldRecord, adopt };
