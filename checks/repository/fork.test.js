'use strict';
// Forking: a fork is this repository with one commit of its own, which names the plugin in the one
// place a name stands and touches no file of the kit; the fork builds, answers under its name and
// passes the kit's checks at once, and again once it has grown and been restyled.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { NAME: slug, REPOSITORY } = require('../support/plugin');
const { run, git, read, write, edit, make, makeUpstream, forkOf, passes } = require('../support/forks');

// A word the kit's own code and text use, which an earlier make fork refused as a name; any other
// when it is this plugin's own.
const NAME = slug === 'status' ? 'build' : 'status';
const REPO = 'https://example.com/someone/plugin_x.git';
// What is the plugin's own, and so a fork's to change; everything else is the kit's.
const OWN = ['README.md', '.upstream', 'src/plugin_*.cpp', 'src/page/', 'test/', 'docs/*.png'];
const kitOnly = OWN.map((pattern) => `:(exclude,glob)${pattern.endsWith('/') ? `${pattern}**` : pattern}`);

const scratch = () => fs.mkdtempSync(path.join(os.tmpdir(), 'fork-'));

test('the fork command refuses a bad name, its own name, a bad address and a folder that exists', async (t) => {
  const parent = scratch();
  t.after(() => fs.rmSync(parent, { recursive: true, force: true }));
  // [arguments, exit status, what it says]
  const table = [
    [['Upper', 'a'], 1, /not a name for a plugin/],
    [['3d', 'a'], 1, /not a name for a plugin/],
    [['we-ather', 'a'], 1, /not a name for a plugin/],
    [['../x', 'a'], 1, /not a name for a plugin/],
    [[slug, 'a'], 1, /already called/],
    [[NAME, 'a', 'https://x/<b>'], 1, /not a clone address/],
    [[NAME, '.'], 1, /exists already/],
    [['', 'a'], 2, /NAME is missing\nusage:/],
  ];
  for (const [[name, target, repo], status, message] of table)
    await t.test(`${JSON.stringify(name)} into ${target}`, () => {
      const refused = run(REPOSITORY, 'tools/fork/fork.js', name, path.join(parent, target), ...(repo ? [repo] : []));
      assert.equal(refused.status, status, refused.out);
      assert.match(refused.stderr, message);
      assert.deepEqual(fs.readdirSync(parent), []);
    });
});

test('a fork is the upstream and one commit of its own, builds and answers under its own name', { timeout: 5 * 60000 }, (t) => {
  const parent = scratch();
  t.after(() => fs.rmSync(parent, { recursive: true, force: true }));
  const upstream = makeUpstream(parent);
  const fork = forkOf(upstream, NAME, parent, REPO);

  assert.equal(git(fork, 'rev-parse', 'HEAD^'), git(upstream, 'rev-parse', 'HEAD'), 'the fork shares the upstream\'s history');
  assert.equal(git(fork, 'status', '--porcelain'), '');
  assert.equal(read(fork, '.upstream'), `${upstream}\n`);
  assert.equal(git(fork, 'diff', '--stat', 'HEAD^', 'HEAD', '--', '.', ...kitOnly), '', 'the fork\'s commit touches no file of the kit');
  assert.ok(fs.existsSync(path.join(fork, `src/plugin_${NAME}.cpp`)) && !fs.existsSync(path.join(fork, `src/plugin_${slug}.cpp`)));
  assert.deepEqual(git(fork, 'ls-files', `test/${slug}.test.js`, `test/**/${slug}.test.js`), '', 'the upstream\'s own checks are not the fork\'s');
  assert.match(read(fork, 'README.md'), new RegExp(`^# plugin_${NAME}\n`));

  const meta = JSON.parse(run(fork, `./plugin_${NAME}`, '--meta').stdout);
  assert.equal(meta.name, NAME);
  const page = run(fork, `./plugin_${NAME}`).stdout;
  assert.ok(page.includes(`git clone ${REPO}</code>`) && page.includes(`'/plugin_${NAME}?action='`));
  passes(fork, ['checks/golden.test.js', 'checks/contract/identity.test.js']);
});

test('a fork that grows an action, a card and a page file, is restyled and has a version and README of its own, is green after make golden', { timeout: 5 * 60000 }, (t) => {
  const parent = scratch();
  t.after(() => fs.rmSync(parent, { recursive: true, force: true }));
  const fork = forkOf(makeUpstream(parent), NAME, parent);
  const source = `src/plugin_${NAME}.cpp`;
  edit(fork, source, (text) => text
    .replace('static void write_unknown_action', 'static void write_uptime()\n{\n    write_text("{\\"ok\\":true,\\"action\\":\\"uptime\\",\\"seconds\\":");\n    write_decimal(42);\n    write_text("}\\n");\n}\n\nstatic void write_unknown_action')
    .replace('\\"supported\\":[\\"info\\",\\"echo\\"]', '\\"supported\\":[\\"info\\",\\"echo\\",\\"uptime\\"]')
    .replace('    else if (strcmp(action, "echo") == 0)', '    else if (strcmp(action, "uptime") == 0)\n        write_uptime();\n    else if (strcmp(action, "echo") == 0)')
    .replace('        page::guide_html,', '        page::uptime_html,\n        page::guide_html,')
    .replace(/^#define PLUGIN_VERSION ".*"$/m, '#define PLUGIN_VERSION "0.1.0"'));
  write(fork, 'src/page/uptime.html', "<div class='card'>\n  <h2>Uptime</h2>\n  <pre id='uptime'>&mdash;</pre>\n</div>\n");
  edit(fork, 'src/page/style.css', (text) => text.replace('--accent:#0a84ff', '--accent:#ff9f0a') + '.card h2{letter-spacing:0}\n');
  write(fork, 'README.md', `plugin_${NAME}\n${'='.repeat(7)}\n\nThe plugin's own words.\n`);
  edit(fork, 'test/golden.js', (text) => text.replace('];', "  { name: 'uptime', query: 'action=uptime' },\n];"));
  const golden = make(fork, 'golden');
  assert.equal(golden.status, 0, golden.out);
  assert.match(read(fork, 'test/golden/uptime.txt'), /"seconds":42/);
  assert.equal(read(fork, 'test/golden/version.txt'), '0.1.0\n');
  const suite = fs.readdirSync(path.join(fork, 'checks/contract')).map((file) => `checks/contract/${file}`);
  passes(fork, ['checks/golden.test.js', ...suite]);
});
