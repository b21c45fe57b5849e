'use strict';
// What a fork knows of where it came from, and the git commands that tools/fork and tools/update
// share.
//
// A fork keeps one record of its ancestry, .upstream.json, written by tools/fork and advanced by
// tools/update, and left alone by the rename:
//   upstream  the address it was forked from: the upstream's origin, or its folder when it has none
//   commit    the upstream commit it was made from, or last updated to
//   clean     false when the upstream's tree had uncommitted changes the fork took with it
//   from      the upstream plugin's name, which the rename replaced
//   name      this plugin's name
//   repo      this plugin's clone address on its guide card, or null for the placeholder
const fs = require('node:fs');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

const RECORD = '.upstream.json';
const NAME = /^[a-z][a-z0-9_]*$/;
// What the page's guide card can show as a clone address: no spaces, quotes or markup.
const ADDRESS = /^[A-Za-z0-9._~:/?#@!$+,;=%-]+$/;

// Runs git in `cwd` and returns its output, trimmed; `ok` is false when git failed, and `error`
// then holds its last line of complaint.
function git(cwd, args, { input } = {}) {
  const result = spawnSync('git', args, { cwd, input, encoding: 'utf8', maxBuffer: 64 << 20 });
  const error = (result.stderr || result.error?.message || '').trim().split('\n').pop();
  return { ok: result.status === 0, out: (result.stdout || '').trim(), error };
}

// The files of the repository at `root`, as git lists them: tracked and new ones, less what
// .gitignore names and what has been deleted from the working tree. Null outside a repository.
function listFiles(root) {
  const listed = spawnSync('git', ['ls-files', '-z', '--cached', '--others', '--exclude-standard'], { cwd: root });
  if (listed.status !== 0) return null;
  const files = listed.stdout.toString('utf8').split('\0').filter(Boolean);
  return [...new Set(files)].filter((file) => fs.lstatSync(path.join(root, file), { throwIfNoEntry: false })?.isFile());
}

// The record at `root`: { record } when it reads as make fork writes it, { problem } when it does
// not, and {} when there is none.
function readRecord(root) {
  const file = path.join(root, RECORD);
  if (!fs.existsSync(file)) return {};
  let record;
  try {
    record = JSON.parse(fs.readFileSync(file, 'utf8'));
  } catch (error) {
    return { problem: `it is not JSON (${error.message})` };
  }
  const wrong = [
    [typeof record?.upstream === 'string' && record.upstream !== '', 'upstream'],
    [/^[0-9a-f]{40}$/.test(record?.commit), 'commit'],
    [typeof record?.clean === 'boolean', 'clean'],
    [NAME.test(record?.from), 'from'],
    [NAME.test(record?.name), 'name'],
    [record?.repo === null || ADDRESS.test(record?.repo), 'repo'],
  ].filter(([good]) => !good);
  if (wrong.length > 0) return { problem: `${wrong.map(([, key]) => key).join(', ')} ${wrong.length > 1 ? 'are' : 'is'} missing or wrong` };
  return { record };
}

// Starts a git history in `folder` with one commit of all its files; returns null, or what failed.
// Without an identity of the user's own git refuses to commit, and `signer` signs instead.
function startHistory(folder, message, signer) {
  const identity = git(folder, ['config', 'user.email']).out ? [] : ['-c', `user.name=${signer}`, '-c', 'user.email=plugin-tools@localhost'];
  for (const step of [['init', '-q', '-b', 'main'], ['add', '-A'], [...identity, 'commit', '-q', '-m', message]]) {
    const done = git(folder, step);
    if (!done.ok) return `git ${step.filter((word) => !word.startsWith('user.')).join(' ')} failed: ${done.error}`;
  }
  return null;
}

function writeRecord(root, { upstream, commit, clean, from, name, repo }) {
  const record = { upstream, commit, clean, from, name, repo: repo ?? null };
  fs.writeFileSync(path.join(root, RECORD), JSON.stringify(record, null, 2) + '\n');
}

module.exports = { RECORD, NAME, ADDRESS, git, listFiles, readRecord, writeRecord, startHistory };
