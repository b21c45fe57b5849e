'use strict';
// What the fork's life is made of, shared by tools/fork/fork.js and tools/fork/update.js: git, run
// as a child, and the one commit that makes a fork of the kit.
//
// A fork is a clone of its upstream, history and all, plus one commit of its own: its source file
// renamed to its name (src/plugin_NAME.cpp, the one place the name stands), its clone address on
// the page's guide card, its own README, its golden answers and pictures made anew, and .upstream,
// the address that `make update` takes the upstream's later work from. The kit's files are the
// upstream's, unchanged, so git's own merge brings their later versions in.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { NAME, sourceOf, nameAmong } = require('../plugin/checkout.js');

// What the page's guide card can show as a clone address: no spaces, quotes or markup.
const ADDRESS = /^[A-Za-z0-9._~:/?#@!$+,;=%-]+$/;
const UPSTREAM_FILE = '.upstream';
const GUIDE = 'src/page/guide.html';
const GUIDE_ADDRESS = /git clone ([^<\s]+)<\/code>/;
const README_TEMPLATE = 'tools/fork/readme-template.md';

const placeholderAddress = (name) => `https://github.com/YOU/plugin_${name}.git`;
// The upstream plugin's own checks of its own page and answers, which are not a fork's to keep.
const ownCheck = (name) => new RegExp(`^test/(.+/)?${name}\\.test\\.js$`);

// Runs git in `cwd`; returns { ok, status, out (trimmed, unless `raw`), stderr, error }. `error` is
// git's complaint: its first "fatal:" or "error:" line without that word, or else its last line
// (not the advice git adds after it, such as "and the repository exists.").
function git(cwd, args, { input, env, raw = false } = {}) {
  const result = spawnSync('git', args, {
    cwd, input, encoding: 'utf8', maxBuffer: 64 << 20, env: { ...process.env, ...env },
  });
  const stderr = result.stderr || result.error?.message || '';
  const complaints = stderr.split('\n').filter((line) => /^(fatal|error): /.test(line));
  const error = complaints.length > 0 ? complaints[0].replace(/^\w+: /, '') : stderr.trim().split('\n').pop();
  const out = result.stdout || '';
  return { ok: result.status === 0, status: result.status, out: raw ? out : out.trim(), stderr, error };
}

// The author of the commits a tool makes: the user's own, or, where git knows none, a stand-in,
// without which git refuses to commit.
function authorship(cwd) {
  if (git(cwd, ['config', 'user.email']).out) return {};
  const who = { name: 'make fork', email: 'plugin-tools@localhost' };
  return {
    GIT_AUTHOR_NAME: who.name, GIT_AUTHOR_EMAIL: who.email, GIT_COMMITTER_NAME: who.name, GIT_COMMITTER_EMAIL: who.email,
  };
}

// The plugin's name at a commit, from its one file src/plugin_NAME.cpp; null when it has not one.
const pluginNameAt = (cwd, commit) => nameAmong(git(cwd, ['ls-tree', '--name-only', `${commit}:src`]).out.split('\n'));

// The address .upstream holds, or null.
function readUpstream(root) {
  const file = path.join(root, UPSTREAM_FILE);
  return fs.existsSync(file) ? fs.readFileSync(file, 'utf8').trim() || null : null;
}

// Makes, in the repository at `cwd`, the commit that forks the kit at `base` (the plugin `from`)
// as `name`, with `repo` as its clone address (a placeholder when null) and `upstream` as the
// address it takes its updates from. Builds it with an index of its own, so that neither the
// working tree nor the index of the repository is touched. Returns the commit's id.
function forkCommit(cwd, { base, from, name, repo, upstream, message }) {
  const index = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'fork-index-')), 'index');
  const env = { GIT_INDEX_FILE: index };
  const step = (args, input) => {
    const done = git(cwd, args, { env, input });
    if (!done.ok) throw new Error(`git ${args.join(' ')}: ${done.error}`);
    return done.out;
  };
  const put = (file, text) => step(['update-index', '--add', '--cacheinfo', `100644,${step(['hash-object', '-w', '--stdin'], text)},${file}`]);
  const blob = (file) => git(cwd, ['cat-file', 'blob', `${base}:${file}`], { raw: true });
  try {
    step(['read-tree', base]);
    if (name !== from) {
      const [mode, object] = step(['ls-files', '-s', '--', sourceOf(from)]).split(/\s+/);
      step(['update-index', '--force-remove', '--', sourceOf(from)]);
      step(['update-index', '--add', '--cacheinfo', `${mode},${object},${sourceOf(name)}`]);
      for (const file of step(['ls-files']).split('\n').filter((file) => ownCheck(from).test(file)))
        step(['update-index', '--force-remove', '--', file]);
    }
    const guide = blob(GUIDE);
    if (guide.ok) put(GUIDE, guide.out.replace(GUIDE_ADDRESS, `git clone ${repo ?? placeholderAddress(name)}</code>`));
    const template = blob(README_TEMPLATE);
    const readme = (template.ok ? template.out : fs.readFileSync(path.join(__dirname, 'readme-template.md'), 'utf8'))
      .replaceAll('@PROGRAM@', `plugin_${name}`).replaceAll('@UPSTREAM_PROGRAM@', `plugin_${from}`).replaceAll('@UPSTREAM@', upstream);
    put('README.md', readme.trimEnd() + '\n');
    put(UPSTREAM_FILE, `${upstream}\n`);
    const tree = step(['write-tree']);
    const committed = git(cwd, ['commit-tree', tree, '-p', base, '-m', message], { env: authorship(cwd) });
    if (!committed.ok) throw new Error(`git commit-tree: ${committed.error}`);
    return committed.out;
  } finally {
    fs.rmSync(path.dirname(index), { recursive: true, force: true });
  }
}

module.exports = {
  NAME, ADDRESS, UPSTREAM_FILE, sourceOf, ownCheck, git, authorship, pluginNameAt, readUpstream, forkCommit,
};
