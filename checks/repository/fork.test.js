'use strict';
// Forking: a renamed copy must build and give its own golden answers at once, and nothing it
// writes may still carry the old name, or the fork would call another plugin's route. The fork
// goes to a name other than this plugin's own, so the check works in a fork as well.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { identity } = require('../support/plugin');

const { slug } = identity();
// Made of parts, so that the name stands in no file: the fork command refuses a name that does.
const [first, second] = ['fork' + 'check', 'copy' + 'check'];
const NAME = slug === first ? second : first;
const REPO = 'https://example.com/someone/plugin_x.git';

const fork = (...args) => spawnSync('tools/fork', args, { encoding: 'utf8' });

test('the fork command refuses a bad name, a name in use and a folder that exists', async (t) => {
  const parent = fs.mkdtempSync(path.join(os.tmpdir(), 'fork-'));
  t.after(() => fs.rmSync(parent, { recursive: true, force: true }));
  const table = [
    [['Upper', 'a'], /not a name for a plugin/],
    [['3d', 'a'], /not a name for a plugin/],
    [['we-ather', 'a'], /not a name for a plugin/],
    [['../x', 'a'], /not a name for a plugin/],
    [[slug, 'a'], /already called/],
    [['status', 'a'], /stands in .* already/],
    [[NAME, 'a', 'https://x/<b>'], /not a clone address/],
    [['', 'a'], /usage/],
    [[NAME, '.'], /exists already/],
  ];
  for (const [[name, target, repo], message] of table)
    await t.test(`${JSON.stringify(name)} into ${target}`, () => {
      const result = fork(name, path.join(parent, target), ...(repo ? [repo] : []));
      assert.equal(result.status, 1);
      assert.match(result.stderr, message);
      assert.equal(result.stderr.trim().split('\n').length, 1);
      assert.deepEqual(fs.readdirSync(parent), []);
    });
});

test('a fork builds, gives its own golden answers and keeps nothing of the old name', { timeout: 10 * 60000 }, (t) => {
  const parent = fs.mkdtempSync(path.join(os.tmpdir(), 'fork-'));
  t.after(() => fs.rmSync(parent, { recursive: true, force: true }));
  const target = path.join(parent, `plugin_${NAME}`);
  const made = fork(NAME, target, REPO);
  assert.equal(made.status, 0, made.stderr);
  assert.match(made.stdout.trim().split('\n').pop(), new RegExp(`cd ${target} and run make test$`));

  // No text of the fork names the old plugin, in any spelling, but its record of where it came from
  // and the README's line saying so; only the reference texts are left out.
  const git = (...args) => spawnSync('git', args, { cwd: target, encoding: 'utf8' }).stdout.trim();
  const leftovers = git('grep', '-Iin', slug, '--', '.', ':!.upstream.json').split('\n').filter((line) => line && !/^README\.md:\d+:> A fork of /.test(line));
  assert.deepEqual(leftovers, []);
  const record = JSON.parse(fs.readFileSync(path.join(target, '.upstream.json'), 'utf8'));
  const upstreamCommit = spawnSync('git', ['rev-parse', 'HEAD'], { encoding: 'utf8' }).stdout.trim();
  assert.deepEqual([record.commit, record.from, record.name, record.repo], [upstreamCommit, slug, NAME, REPO]);
  assert.deepEqual([git('rev-list', '--count', 'HEAD'), git('status', '--porcelain')], ['1', '']);
  assert.match(git('log', '-1', '--format=%B'), new RegExp(`from ${record.upstream} at ${upstreamCommit}`));
  assert.ok(fs.existsSync(path.join(target, `src/plugin_${NAME}.cpp`)));
  assert.ok(!fs.existsSync(path.join(target, 'test/reference.test.js')));

  // Built with `make` (the fork command builds it where it retakes the pictures), the fork passes
  // the checks of who it is and its golden answers, renamed with it, as a suite of its own.
  const built = spawnSync('make', ['all'], { cwd: target, encoding: 'utf8' });
  // The rename is of text: a library's name that holds the plugin's own is renamed with it.
  const renamedTooMuch = `${built.stderr}\nThe fork of this plugin, renamed from ${slug} to ${NAME}, does not build. Where the code uses a name that holds "${slug}" for something else, such as a header or a library function, the fork renamed it too: give that call another spelling (see docs/authoring.md, Fork).`;
  assert.equal(built.status, 0, renamedTooMuch);
  const { NODE_TEST_CONTEXT, ...env } = process.env;
  const checked = spawnSync('node', ['--test', 'test/golden.test.js', 'test/contract/identity.test.js'], { cwd: target, env, encoding: 'utf8' });
  assert.equal(checked.status, 0, checked.stdout.slice(-3000));
  assert.match(checked.stdout, /# fail 0/);

  // A longer name lengthens lines; the fork's sources are formatted as its make test checks them.
  const sources = [`src/plugin_${NAME}.cpp`, 'test/fuzz/fuzz_request.cpp', 'tools/sanitizer_options.cpp'];
  const format = spawnSync('clang-format', ['--dry-run', '--Werror', ...sources], { cwd: target, encoding: 'utf8' });
  assert.equal(format.status, 0, format.stderr.slice(0, 2000));

  const page = spawnSync(path.join(target, `plugin_${NAME}`), [], { env: {}, encoding: 'latin1' }).stdout;
  assert.ok(page.includes(`git clone ${REPO}</code>`));
  assert.ok(page.includes(`'/plugin_${NAME}?action='`));
});
