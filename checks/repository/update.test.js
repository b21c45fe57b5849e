'use strict';
// Keeping a fork current: an upstream made of this repository's files gets commits, and a fork of
// it, with edits of its own, takes them with `make update`, which is git's own merge. Nothing
// broken passes as done: while conflict markers remain, make, make golden and make update stop.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { NAME: slug, REPOSITORY } = require('../support/plugin');
const { run, git, read, write, edit, commit, copyRepository, makeUpstream, forkOf, make, passes } = require('../support/forks');

// A word the kit's own code and text use; any other when it is this plugin's own.
const NAME = slug === 'cache' ? 'status' : 'cache';
const SOURCE = (name) => `src/plugin_${name}.cpp`;
const setDescription = (folder, name, words) =>
  edit(folder, SOURCE(name), (text) => text.replace(/(\\"desc\\":\\")[^\\]*/, `$1${words}`));
const update = (fork, ...settings) => make(fork, 'update', ...settings);
const listed = (name) => new RegExp(`^update: 1 file to resolve\\b.*: ${SOURCE(name).replace('.', '\\.')}$`, 'm');
const merging = (fork) => git(fork, 'rev-parse', '-q', '--verify', 'MERGE_HEAD') !== '';
// Resolves each conflict in `file` to its first side, the fork's.
const keepOwnSide = (folder, file) => edit(folder, file, (text) => text.replace(/^<{7} .*\n([^]*?)^\|{7} [^]*?^>{7} .*\n/gm, '$1'));

const SCENARIOS = [
  {
    name: 'three upstream commits arrive beside the fork\'s edits, which follow a moved document',
    act({ upstream, fork }) {
      commit(fork, 'own edits', () => {
        edit(fork, 'src/page/style.css', (text) => `${text}.mine{color:red}\n`);
        edit(fork, 'docs/authoring.md', (text) => text.replace(/\n/, `\nThe fork's own note.\n`));
      });
      commit(upstream, 'a comment with the fork\'s word', () => edit(upstream, 'Makefile', (text) => `# a ${NAME} of nothing\n${text}`));
      commit(upstream, 'a stylesheet rule', () => edit(upstream, 'src/page/style.css', (text) => `h1{margin:0}\n${text}`));
      commit(upstream, 'a move', () => git(upstream, 'mv', 'docs/authoring.md', 'docs/growing.md'));
      const updated = update(fork);
      assert.equal(updated.status, 0, updated.out);
      assert.ok(merging(fork), 'the merge waits for the author\'s commit');
      assert.match(read(fork, 'Makefile'), new RegExp(`^# a ${NAME} of nothing\n`));
      assert.match(read(fork, 'src/page/style.css'), /^h1\{margin:0\}\n[^]*\.mine\{color:red\}\n$/);
      assert.ok(!fs.existsSync(path.join(fork, 'docs/authoring.md')));
      assert.match(read(fork, 'docs/growing.md'), /The fork's own note/);
      assert.match(read(fork, 'test/golden/page.txt'), /h1\{margin:0\}/, 'the golden answers are made anew');
      assert.equal(git(fork, 'diff', '--name-only', '--diff-filter=U'), '');
      commit(fork, 'take them');
      assert.equal(update(fork, 'CHECK=1').status, 0, 'nothing left to take');
      assert.equal(make(fork, 'golden').out.trim().split('\n').pop(), 'golden answers: all unchanged');
    },
  },
  {
    name: 'a line both changed stops it with both sides, until resolved as the README says, in a commit whose clean clone passes',
    act({ upstream, fork, parent }) {
      commit(fork, 'own words', () => setDescription(fork, NAME, 'the fork\'s words'));
      commit(upstream, 'upstream words, a version, and their answers', () => {
        setDescription(upstream, slug, 'the upstream\'s words');
        edit(upstream, SOURCE(slug), (text) => text.replace(/^#define PLUGIN_VERSION ".*"$/m, '#define PLUGIN_VERSION "9.8.7"'));
        make(upstream, 'golden');
      });
      const stopped = update(fork);
      assert.notEqual(stopped.status, 0);
      for (const shown of ['the fork\'s words', 'the upstream\'s words']) assert.ok(stopped.out.includes(shown), shown);
      assert.match(stopped.out, listed(NAME));
      for (const [command, ...args] of [['make'], ['make', 'golden']]) {
        const made = run(fork, command, ...args);
        assert.notEqual(made.status, 0, `${[command, ...args].join(' ')} passes with markers in the tree`);
        assert.match(made.stderr, new RegExp(`${SOURCE(NAME).replace('.', '\\.')}:\\d+:<<<<<<< `));
      }
      assert.equal(run(fork, 'git', 'merge', '--abort').status, 0);
      assert.equal(git(fork, 'status', '--porcelain'), '');
      assert.notEqual(update(fork, 'CHECK=1').status, 0, 'an abandoned update is still to be taken');
      assert.match(update(fork).out, listed(NAME));

      // The README's steps, as typed: edit, git add the file it listed, make golden, git commit.
      keepOwnSide(fork, SOURCE(NAME));
      git(fork, 'add', SOURCE(NAME));
      const golden = make(fork, 'golden');
      assert.equal(golden.status, 0, golden.out);
      assert.match(golden.out, /test\/golden\/version\.txt: changed\n- .*\n\+ 9\.8\.7\\n/, 'make golden shows the version the update brings');
      assert.equal(run(fork, 'git', 'commit', '--no-edit').status, 0);
      const clone = path.join(parent, 'clone');
      assert.equal(run(parent, 'git', 'clone', '-q', fork, clone).status, 0);
      assert.equal(make(clone).status, 0);
      passes(clone, ['checks/golden.test.js']);
      assert.equal(update(fork, 'CHECK=1').status, 0);
    },
  },
  {
    name: 'TO takes a side branch; FROM names another upstream, which later updates take from',
    act({ upstream, fork, parent }) {
      git(upstream, 'checkout', '-q', '-b', 'side');
      commit(upstream, 'side work', () => edit(upstream, 'platform/platform.h', (text) => `// side work\n${text}`));
      git(upstream, 'checkout', '-q', 'main');
      const side = update(fork, 'TO=side');
      assert.equal(side.status, 0, side.out);
      assert.match(read(fork, 'platform/platform.h'), /^\/\/ side work\n/);
      commit(fork, 'take the side work');
      const mirror = path.join(parent, 'mirror');
      assert.equal(run(parent, 'git', 'clone', '-q', upstream, mirror).status, 0);
      commit(mirror, 'mirror work', () => edit(mirror, 'Makefile', (text) => `# from the mirror\n${text}`));
      assert.equal(update(fork, `FROM=${mirror}`).status, 0);
      commit(fork, 'take the mirror work');
      assert.equal(read(fork, '.upstream'), `${mirror}\n`);
      commit(mirror, 'more mirror work', () => edit(mirror, 'Makefile', (text) => `# more\n${text}`));
      assert.notEqual(update(fork, 'CHECK=1').status, 0, 'a plain CHECK=1 asks the upstream FROM named');
      git(fork, 'switch', '-q', '-c', 'feature', 'HEAD^');
      assert.match(update(fork).out, /this merge goes into feature, and main has taken upstream work that feature has not/);
    },
  },
  {
    name: 'a source the fork made its own, which git no longer pairs with the upstream\'s, takes its change, and its conflict is git\'s',
    act({ upstream, fork }) {
      // Small functions, until the fork's own lines outweigh those it shares with the upstream.
      const source = read(fork, SOURCE(NAME));
      let grown = '';
      for (let i = 0; grown.length < 1.5 * source.length; i++)
        grown += `// Station ${i}, as the forecast shows it.\n[[maybe_unused]] static int station_${i}()\n{\n    return ${i};\n}\n\n`;
      commit(fork, 'a forecast', () => {
        edit(fork, SOURCE(NAME), (text) => text.replace(/^int main\(/m, `${grown}int main(`));
        setDescription(fork, NAME, 'the fork\'s words');
      });
      const base = git(fork, 'rev-parse', 'HEAD~2');
      const paired = git(fork, 'diff', '-M', '--name-status', base, 'HEAD', '--', SOURCE(slug), SOURCE(NAME));
      assert.deepEqual(paired.split('\n').map((line) => line[0]).sort(), ['A', 'D'], `git pairs the two sources: ${paired}`);
      commit(upstream, 'upstream words, and a note', () => {
        setDescription(upstream, slug, 'the upstream\'s words');
        edit(upstream, SOURCE(slug), (text) => `// The upstream's note.\n${text}`);
      });
      const target = git(upstream, 'rev-parse', '--short=12', 'HEAD');
      const before = read(fork, SOURCE(NAME));

      const stopped = update(fork);
      assert.notEqual(stopped.status, 0);
      assert.match(stopped.out, listed(NAME));
      assert.equal(git(fork, 'status', '--porcelain', '--', 'src'), `UU ${SOURCE(NAME)}`);
      assert.deepEqual(git(fork, 'ls-files', '-s', '--', 'src/*.cpp').match(/\d\t.*/g), [1, 2, 3].map((stage) => `${stage}\t${SOURCE(NAME)}`));
      const merged = read(fork, SOURCE(NAME));
      assert.match(merged, /^\/\/ The upstream's note\.\n/, 'the change that does not overlap is merged');
      for (const label of [`<<<<<<< HEAD:${SOURCE(NAME)}`, `||||||| ${git(fork, 'rev-parse', '--short', base)}:${SOURCE(slug)}`, `>>>>>>> ${target}:${SOURCE(slug)}`])
        assert.ok(merged.includes(`\n${label}\n`), label);
      assert.notEqual(run(fork, 'git', 'commit', '--no-edit').status, 0, 'git commit takes the file with its markers');
      assert.equal(run(fork, 'git', 'merge', '--abort').status, 0);
      assert.deepEqual([git(fork, 'status', '--porcelain'), read(fork, SOURCE(NAME))], ['', before]);

      update(fork);
      commit(fork, 'markers, committed by mistake');
      for (const settings of [[], ['CHECK=1']]) {
        const refused = update(fork, ...settings);
        assert.notEqual(refused.status, 0);
        assert.match(refused.out, /conflict markers/);
      }
      commit(fork, 'resolved', () => keepOwnSide(fork, SOURCE(NAME)));
      assert.match(update(fork).out, /^update: up to date with /);
      assert.match(read(fork, SOURCE(NAME)), /^\/\/ The upstream's note\.\n[^]*the fork's words/);
    },
  },
];

test('make update takes the upstream\'s work into a fork with git\'s merge', { timeout: 10 * 60000 }, async (t) => {
  for (const scenario of SCENARIOS)
    await t.test(scenario.name, () => {
      const parent = fs.mkdtempSync(path.join(os.tmpdir(), 'update-'));
      try {
        const upstream = makeUpstream(parent);
        scenario.act({ upstream, fork: forkOf(upstream, NAME, parent), parent });
      } finally {
        fs.rmSync(parent, { recursive: true, force: true });
      }
    });
});

// Each of these must end in one line saying why, and leave the fork exactly as it was.
const REFUSALS = [
  ['an upstream that cannot be reached', () => ['FROM=/nonexistent/upstream'],
    /^update: cannot fetch the upstream from \/nonexistent\/upstream, which FROM names: there is no such folder\./],
  ['an upstream that is not a plugin of this kit', ({ parent }) => {
    const other = fs.mkdtempSync(path.join(parent, 'other-'));
    git(other, 'init', '-q', '-b', 'main');
    commit(other, 'not a plugin', () => write(other, 'a.txt', 'a\n'));
    return [`FROM=${other}`];
  }, /is not a plugin of this kit/],
  ['a TO the upstream does not have', () => ['TO=no-such-branch'], /is not a branch, tag or commit of/],
  ['uncommitted changes', ({ fork }) => {
    edit(fork, 'src/page/style.css', (text) => `${text}/* not committed */\n`);
    return [];
  }, /uncommitted changes/],
  ['no upstream known', ({ fork }) => {
    commit(fork, 'no upstream', () => fs.rmSync(path.join(fork, '.upstream')));
    return [];
  }, /make update FROM=/],
  ['an untracked file where the upstream adds one, from an upstream FROM names', ({ upstream, fork, parent }) => {
    commit(upstream, 'a new document', () => write(upstream, 'docs/later.md', 'later\n'));
    write(fork, 'docs/later.md', 'the fork\'s own notes\n');
    const mirror = fs.mkdtempSync(path.join(parent, 'mirror-'));
    git(parent, 'clone', '-q', upstream, mirror);
    return [`FROM=${mirror}`];
  }, /would overwrite docs\/later\.md, which git does not track here: move it out of the way/],
  ['an upstream of another history', ({ parent }) => [`FROM=${makeUpstream(fs.mkdtempSync(path.join(parent, 'other-')))}`], /shares no history with this fork/],
  ['a detached HEAD', ({ fork }) => {
    git(fork, 'checkout', '-q', '--detach');
    return [];
  }, /HEAD is detached/],
];

test('make update refuses what it cannot do, and changes nothing', { timeout: 5 * 60000 }, async (t) => {
  const parent = fs.mkdtempSync(path.join(os.tmpdir(), 'update-'));
  t.after(() => fs.rmSync(parent, { recursive: true, force: true }));
  const upstream = makeUpstream(parent);
  commit(upstream, 'upstream work', () => edit(upstream, 'Makefile', (text) => `# newer\n${text}`));
  for (const [name, arrange, message] of REFUSALS)
    await t.test(name, () => {
      const fork = forkOf(upstream, NAME, fs.mkdtempSync(path.join(parent, 'fork-')));
      const settings = arrange({ upstream, fork, parent });
      const [head, status] = [git(fork, 'rev-parse', 'HEAD'), git(fork, 'status', '--porcelain')];
      const refused = update(fork, ...settings);
      assert.notEqual(refused.status, 0);
      assert.match(refused.stderr, message);
      assert.equal(refused.stderr.split('\n').filter((line) => line.startsWith('update:')).length, 1, refused.stderr);
      assert.deepEqual([git(fork, 'rev-parse', 'HEAD'), git(fork, 'status', '--porcelain')], [head, status]);
    });
});

// The last commit of the kit whose make fork copied the plugin with its name written in: a fork
// made by it takes this kit with one update, named from a checkout of this kit.
const RENAMING_KIT = 'ecd38bda9023e8a3d5aed29ad6015bd50595d214';
const hasRenamingKit = git(REPOSITORY, 'cat-file', '-t', RENAMING_KIT) === 'commit';
// A name that kit took (it refused one that stood in its code).
const OLD_NAME = slug === 'weather' ? 'rain' : 'weather';

test('a fork made by the renaming make fork takes this kit with one make update, and shares its history from then on',
  { skip: !hasRenamingKit && 'needs the history of this repository', timeout: 5 * 60000 }, (t) => {
    const parent = fs.mkdtempSync(path.join(os.tmpdir(), 'update-'));
    t.after(() => fs.rmSync(parent, { recursive: true, force: true }));
    const upstream = path.join(parent, 'upstream');
    assert.equal(run(parent, 'git', 'clone', '-q', REPOSITORY, upstream).status, 0);
    copyRepository(upstream);
    // The stylesheet as the renaming kit wrote it: in a fork of this kit, the upstream's own rules
    // would meet the old fork's at the end of the file.
    write(upstream, 'src/page/style.css', `${git(REPOSITORY, 'show', `${RENAMING_KIT}:src/page/style.css`)}\n`);
    git(upstream, 'add', '-A');
    assert.equal(run(upstream, 'git', 'commit', '-q', '--allow-empty', '-m', 'this kit as it stands').status, 0);
    const renaming = path.join(parent, 'renaming-kit');
    git(upstream, 'worktree', 'add', '-q', '--detach', renaming, RENAMING_KIT);
    const fork = path.join(parent, `plugin_${OLD_NAME}`);
    const made = run(renaming, process.execPath, 'tools/fork', OLD_NAME, fork);
    assert.equal(made.status, 0, made.out);
    write(fork, '.upstream.json', read(fork, '.upstream.json').replace(/"upstream": ".*"/, `"upstream": ${JSON.stringify(upstream)}`));
    commit(fork, 'own edits', () => edit(fork, 'src/page/style.css', (text) => `${text}.mine{color:red}\n`));

    const updated = make(fork, '-f', path.join(upstream, 'Makefile'), 'update');
    assert.equal(updated.status, 0, updated.out);
    commit(fork, 'take the kit');
    assert.equal(run(fork, 'git', 'merge-base', '--is-ancestor', git(upstream, 'rev-parse', 'HEAD'), 'HEAD').status, 0);
    assert.deepEqual([fs.existsSync(path.join(fork, '.upstream.json')), read(fork, '.upstream')], [false, `${upstream}\n`]);
    assert.match(read(fork, 'src/page/style.css'), /\.mine\{color:red\}\n$/);
    assert.equal(JSON.parse(run(fork, `./plugin_${OLD_NAME}`, '--meta').stdout).name, OLD_NAME);
    assert.equal(git(fork, 'diff', '--stat', git(upstream, 'rev-parse', 'HEAD'), 'HEAD', '--', 'tools', 'checks', 'platform', 'Makefile'), '', 'the kit\'s files are the upstream\'s');
    commit(upstream, 'later work', () => edit(upstream, 'Makefile', (text) => `# later\n${text}`));
    const later = update(fork);
    assert.equal(later.status, 0, later.out);
    assert.match(read(fork, 'Makefile'), /^# later\n/);
  });
