'use strict';
// The host contract (docs/contract.md) as tools/contract/contract.js checks any plugin, held against
// this build: every rule, the should-rules as strictly as the must-rules, since a plugin made from
// this kit keeps them all. The cost is measured by make bench, not here. The rest of this folder
// holds what the kit's plugins promise beyond the contract.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const { REPOSITORY, commandLine, underLauncher, launcherEnv } = require('../support/plugin');

const CHECKER = path.join(REPOSITORY, 'tools/contract/contract.js');
const rules = spawnSync(process.execPath, [CHECKER, '--list'], { encoding: 'utf8' }).stdout.split('\n')
  .map((line) => line.split(/\s+/)[0]).filter((id) => id && !id.startsWith('cost.'));

// The checker runs an executable, as a host does; a build under a launcher (Wine, qemu) is one
// through a script, which carries what the launcher needs of the environment. The script stays in
// build/, so that the replay line of a failure works after the run.
function executable() {
  if (!underLauncher) return path.resolve(commandLine[0]);
  const quote = (word) => `'${word.replace(/'/g, `'\\''`)}'`;
  const words = commandLine.map((word) => quote(fs.existsSync(word) ? path.resolve(word) : word));
  const exports = Object.entries(launcherEnv).map(([name, value]) => `export ${name}=${quote(value)}\n`).join('');
  const script = path.join(REPOSITORY, 'build', 'launched', path.basename(commandLine[commandLine.length - 1]));
  fs.mkdirSync(path.dirname(script), { recursive: true });
  fs.writeFileSync(script, `#!/bin/sh\n${exports}exec ${words.join(' ')} "$@"\n`, { mode: 0o755 });
  return script;
}

test('this build keeps the host contract', { timeout: 10 * 60000 }, async (t) => {
  const checked = spawnSync(process.execPath, [CHECKER, '--format', 'json', '--strict', ...rules.flatMap((id) => ['--rule', id]), executable()],
    { encoding: 'utf8', maxBuffer: 64 << 20, env: { ...process.env, PATH: `${process.env.PATH}:/usr/sbin` } });
  assert.ok(checked.stdout.startsWith('{'), `the checker wrote no report: ${checked.stderr}`);
  const report = JSON.parse(checked.stdout);
  assert.deepEqual(report.results.map((result) => result.id), rules);
  for (const result of report.results)
    await t.test(result.id, { skip: result.status === 'skip' && result.skip }, () => {
      const shown = result.findings.map((finding) => `expected ${finding.expected}\ncame ${finding.came}\nreplay: ${finding.replay}`);
      assert.ok(['pass', 'info', 'skip'].includes(result.status), `${result.title}\n${shown.join('\n')}`);
    });
  assert.equal(checked.status, 0, checked.stderr);
});
