'use strict';
// Keeping a fork up to date: an upstream made of this repository's files gets a commit, and a fork
// of it, with edits of its own, takes the commit with `make update`. The fork's names are made of
// parts, so that they stand in no file: the fork command refuses a name that does.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { identity } = require('../support/plugin');

const { slug } = identity();
const [FIRST, SECOND] = ['sky' + 'watch', 'sea' + 'watch'];
const SOURCE = (name) => `src/plugin_${name}.cpp`;
// The first line of the program's source, which names the plugin: a change to it must reach the
// fork renamed.
const FIRST_LINE = (name, words) => `// plugin_${name}: ${words}`;

// Commits of the test's own carry an identity of their own; pictures are never retaken.
const ENV = {
  ...process.env,
  GIT_AUTHOR_NAME: 'test', GIT_AUTHOR_EMAIL: 'test@localhost', GIT_COMMITTER_NAME: 'test', GIT_COMMITTER_EMAIL: 'test@localhost',
  CHROMIUM: '/nonexistent',
};
const run = (cwd, command, ...args) => {
  const result = spawnSync(command, args, { cwd, env: ENV, encoding: 'utf8' });
  return { ...result, out: `${result.stdout}${result.stderr}` };
};
const git = (cwd, ...args) => run(cwd, 'git', ...args).stdout.trim();
const read = (folder, file) => fs.readFileSync(path.join(folder, file), 'utf8');
function edit(folder, file, change) {
  fs.writeFileSync(path.join(folder, file), change(read(folder, file)));
}
function commit(folder, message, change) {
  change();
  git(folder, 'add', '-A');
  assert.equal(run(folder, 'git', 'commit', '-q', '-m', message).status, 0);
}
const setFirstLine = (folder, name, words) =>
  edit(folder, SOURCE(name), (text) => text.replace(/^.*\n/, FIRST_LINE(name, words) + '\n'));

// An upstream repository holding this repository's files as they stand, in `parent`.
function makeUpstream(parent) {
  const upstream = path.join(parent, 'upstream');
  const files = spawnSync('git', ['ls-files', '-z', '--cached', '--others', '--exclude-standard']).stdout.toString().split('\0');
  for (const file of files.filter((name) => name && fs.lstatSync(name, { throwIfNoEntry: false })?.isFile())) {
    fs.mkdirSync(path.join(upstream, path.dirname(file)), { recursive: true });
    fs.copyFileSync(file, path.join(upstream, file));
  }
  git(upstream, 'init', '-q', '-b', 'main');
  commit(upstream, 'the upstream as it stands', () => {});
  return upstream;
}

function forkOf(upstream, name, parent) {
  const folder = path.join(parent, name);
  const made = run(upstream, 'tools/fork', name, folder);
  assert.equal(made.status, 0, made.out);
  return folder;
}

const update = (fork, ...settings) => run(fork, 'make', '-s', 'update', ...settings);
const record = (fork) => JSON.parse(read(fork, '.upstream.json'));

// Each scenario gets a fresh upstream and a fork of it named FIRST; `act` changes both sides and
// updates, then checks what became of the fork.
const SCENARIOS = [
  {
    name: 'an upstream change reaches the fork through the rename, beside the fork\'s own edits',
    act({ upstream, fork }) {
      commit(fork, 'own line', () => edit(fork, 'src/page/style.css', (text) => text + '/* the fork\'s own */\n'));
      commit(upstream, 'upstream work', () => {
        setFirstLine(upstream, slug, 'newer words');
        fs.writeFileSync(path.join(upstream, 'tools/new-helper.txt'), `helps plugin_${slug}\n`);
      });
      const updated = update(fork);
      assert.equal(updated.status, 0, updated.out);
      assert.match(updated.out, /1 updated, 1 added, 0 removed, 0 conflicts/);
      assert.match(updated.out, /golden answers/, 'make golden ran after the merge');
      assert.equal(read(fork, SOURCE(FIRST)).split('\n')[0], FIRST_LINE(FIRST, 'newer words'));
      assert.equal(read(fork, 'tools/new-helper.txt'), `helps plugin_${FIRST}\n`);
      assert.match(read(fork, 'src/page/style.css'), /the fork's own/);
      assert.equal(record(fork).commit, git(upstream, 'rev-parse', 'HEAD'));
    },
  },
  {
    name: 'a line both changed stays with both sides between markers, and the update fails',
    act({ upstream, fork }) {
      commit(fork, 'own words', () => setFirstLine(fork, FIRST, 'the fork\'s words'));
      commit(upstream, 'upstream words', () => setFirstLine(upstream, slug, 'the upstream\'s words'));
      const updated = update(fork);
      assert.notEqual(updated.status, 0);
      assert.match(updated.out, new RegExp(`conflict +${SOURCE(FIRST)}`));
      const text = read(fork, SOURCE(FIRST));
      for (const line of ['<<<<<<< ', FIRST_LINE(FIRST, 'the fork\'s words'), '||||||| ', '=======', FIRST_LINE(FIRST, 'the upstream\'s words'), '>>>>>>> '])
        assert.ok(text.includes(line), `${line} in the merged file`);
    },
  },
  {
    name: 'with nothing new upstream, nothing changes',
    act({ fork }) {
      const updated = update(fork);
      assert.equal(updated.status, 0, updated.out);
      assert.match(updated.out, /up to date/);
      assert.equal(git(fork, 'status', '--porcelain'), '');
    },
  },
  {
    name: 'a working tree with uncommitted changes is refused and left as it is',
    act({ upstream, fork }) {
      commit(upstream, 'upstream work', () => setFirstLine(upstream, slug, 'newer words'));
      edit(fork, 'src/page/style.css', (text) => text + '/* not committed */\n');
      const updated = update(fork);
      assert.notEqual(updated.status, 0);
      assert.match(updated.stderr, /uncommitted changes/);
      assert.equal(git(fork, 'status', '--porcelain'), `M src/page/style.css`);
    },
  },
  {
    name: 'a fork with no record and no history adopts the update with FROM and BASE',
    act({ upstream, fork }) {
      const base = git(upstream, 'rev-parse', 'HEAD');
      fs.rmSync(path.join(fork, '.git'), { recursive: true });
      fs.rmSync(path.join(fork, '.upstream.json'));
      commit(upstream, 'upstream work', () => setFirstLine(upstream, slug, 'newer words'));
      assert.match(update(fork).stderr, /BASE=/, 'without a record, it says how to adopt');
      const updated = update(fork, `FROM=${upstream}`, `BASE=${base}`);
      assert.equal(updated.status, 0, updated.out);
      assert.equal(read(fork, SOURCE(FIRST)).split('\n')[0], FIRST_LINE(FIRST, 'newer words'));
      assert.deepEqual([record(fork).commit, record(fork).upstream], [git(upstream, 'rev-parse', 'HEAD'), upstream]);
      assert.equal(git(fork, 'rev-list', '--count', 'HEAD'), '1', 'its history starts with the fork as it stood');
    },
  },
  {
    name: 'an upstream change flows down a chain of two forks',
    act({ upstream, fork, parent }) {
      const second = forkOf(fork, SECOND, parent);
      assert.deepEqual([record(second).from, record(second).upstream], [FIRST, fork]);
      commit(upstream, 'upstream work', () => setFirstLine(upstream, slug, 'newer words'));
      assert.equal(update(fork).status, 0);
      commit(fork, 'take the upstream work', () => {});
      assert.notEqual(update(second, 'CHECK=1').status, 0, 'CHECK=1 sees the new commit');
      const updated = update(second);
      assert.equal(updated.status, 0, updated.out);
      assert.equal(read(second, SOURCE(SECOND)).split('\n')[0], FIRST_LINE(SECOND, 'newer words'));
      assert.equal(update(second, 'CHECK=1').status, 0);
    },
  },
];

test('make update brings the upstream\'s work into a fork', { timeout: 10 * 60000 }, async (t) => {
  for (const scenario of SCENARIOS)
    await t.test(scenario.name, () => {
      const parent = fs.mkdtempSync(path.join(os.tmpdir(), 'update-'));
      try {
        const upstream = makeUpstream(parent);
        scenario.act({ upstream, fork: forkOf(upstream, FIRST, parent), parent });
      } finally {
        fs.rmSync(parent, { recursive: true, force: true });
      }
    });
});

// Each of these must end in one line saying why, and leave the fork exactly as it was.
const REFUSALS = [
  ['an upstream that cannot be reached', () => ['FROM=/nonexistent/upstream'], /cannot fetch/],
  ['an upstream that is not a plugin', ({ parent }) => {
    const other = fs.mkdtempSync(path.join(parent, 'other-'));
    git(other, 'init', '-q', '-b', 'main');
    commit(other, 'not a plugin', () => fs.writeFileSync(path.join(other, 'a.txt'), 'a\n'));
    return [`FROM=${other}`];
  }, /not a plugin that make fork can fork/],
  ['a BASE that is not in the upstream\'s history', () => ['BASE=0123456789abcdef0123456789abcdef01234567'], /is not a commit of/],
  ['a record edited into nonsense', ({ fork }) => {
    commit(fork, 'nonsense', () => fs.writeFileSync(path.join(fork, '.upstream.json'), '{"upstream": 7}\n'));
    return [];
  }, /is not a record make fork writes/],
  ['an upstream whose new version uses the fork\'s name', ({ upstream }) => {
    commit(upstream, 'the name in use', () => edit(upstream, 'Makefile', (text) => `${text}# ${FIRST}\n`));
    return [];
  }, /cannot be forked as/],
];

test('make update refuses what it cannot do, and changes nothing', { timeout: 5 * 60000 }, async (t) => {
  const parent = fs.mkdtempSync(path.join(os.tmpdir(), 'update-'));
  t.after(() => fs.rmSync(parent, { recursive: true, force: true }));
  const upstream = makeUpstream(parent);
  for (const [name, arrange, message] of REFUSALS)
    await t.test(name, () => {
      const fork = forkOf(upstream, FIRST, fs.mkdtempSync(path.join(parent, 'fork-')));
      const settings = arrange({ upstream, fork, parent });
      const head = git(fork, 'rev-parse', 'HEAD');
      const refused = update(fork, ...settings);
      assert.notEqual(refused.status, 0);
      assert.match(refused.stderr, message);
      assert.equal(refused.stderr.split('\n').filter((line) => line.startsWith('update:')).length, 1, refused.stderr);
      assert.deepEqual([git(fork, 'rev-parse', 'HEAD'), git(fork, 'status', '--porcelain')], [head, '']);
    });
});
