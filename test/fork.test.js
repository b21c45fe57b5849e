'use strict';
// Forking: a renamed copy must build and pass its own checks, and nothing it writes may still
// carry the old name, or the fork would call another plugin's route.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

const OLD = 'tevio';
// Set in the fork's own run, so that the fork does not fork again.
const insideFork = process.env.PLUGIN_FORK_CHECK === 'inside';
const skip =
  (process.env.PLUGIN_CMD !== undefined && 'checked in the run of the native build') ||
  (insideFork && 'this is the fork being checked');

const fork = (...args) => spawnSync('tools/fork', args, { encoding: 'utf8' });

test('the fork command refuses a name that is not a slug and a folder that exists', { skip }, async (t) => {
  const existing = fs.mkdtempSync(path.join(os.tmpdir(), 'fork-'));
  const table = [
    ['Weather', path.join(existing, 'a'), /not a lower-case slug/],
    ['we-ather', path.join(existing, 'b'), /not a lower-case slug/],
    ['../x', path.join(existing, 'c'), /not a lower-case slug/],
    ['', path.join(existing, 'd'), /usage/],
    ['weather', existing, /exists already/],
  ];
  for (const [name, target, message] of table)
    await t.test(`${JSON.stringify(name)} into ${path.basename(target)}`, () => {
      const result = fork(name, target);
      assert.equal(result.status, 1);
      assert.match(result.stderr, message);
      assert.equal(result.stderr.trim().split('\n').length, 1);
      assert.equal(fs.readdirSync(existing).length, 0);
    });
  fs.rmSync(existing, { recursive: true });
});

test('a fork renamed "weather" passes its own make test and keeps nothing of the old name', { skip, timeout: 40 * 60000 }, () => {
  const parent = fs.mkdtempSync(path.join(os.tmpdir(), 'fork-'));
  const target = path.join(parent, 'plugin_weather');
  const made = fork('weather', target);
  assert.equal(made.status, 0, made.stderr);

  // No text of the fork names the old plugin, in any spelling; images are left as they are.
  const leftovers = spawnSync('grep', ['-rIil', OLD, '.'], { cwd: target, encoding: 'utf8' }).stdout;
  assert.equal(leftovers, '');
  assert.ok(fs.existsSync(path.join(target, 'src/plugin_weather.cpp')));

  // The fork's suite runs as a suite of its own, not as part of this one.
  const { NODE_TEST_CONTEXT, ...env } = process.env;
  const checked = spawnSync('make', ['test'], {
    cwd: target,
    env: { ...env, PLUGIN_FORK_CHECK: 'inside' },
    encoding: 'utf8',
    maxBuffer: 64 << 20,
  });
  assert.equal(checked.status, 0, checked.stdout.slice(-4000) + checked.stderr.slice(-4000));

  // What the fork's executable writes carries the new name and never the old one.
  const answer = (env, args = []) =>
    spawnSync(path.join(target, 'plugin_weather'), args, { env, encoding: 'latin1' }).stdout;
  const answers = {
    meta: answer({}, ['--meta']),
    info: answer({ QUERY_STRING: 'action=info' }),
    page: answer({ QUERY_STRING: '' }),
    echo: answer({ QUERY_STRING: 'action=echo&msg=hi' }),
    unknown: answer({ QUERY_STRING: 'action=x' }),
    refusal: answer({ BOT_PASSWORD: 'x' }),
  };
  for (const [kind, out] of Object.entries(answers)) assert.doesNotMatch(out, new RegExp(OLD, 'i'), kind);
  assert.equal(answers.meta, '{"name":"weather","desc":"Starter demo"}\n');
  assert.match(answers.info, /\{"ok":true,"plugin":"plugin_weather","slug":"weather",/);
  assert.match(answers.page, /<title>weather<\/title>/);
  assert.match(answers.page, /'\/plugin_weather\?action='/);
  fs.rmSync(parent, { recursive: true });
});
