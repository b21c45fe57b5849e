'use strict';
// Runs the contract checker as an author would, as a command, and reads what it reports.
const { spawn } = require('node:child_process');
const path = require('node:path');

const ROOT = path.resolve(__dirname, '../..');
const CHECKER = path.join(ROOT, 'tools/contract/contract.js');
const plugin = (name) => path.join(__dirname, 'plugins', name);

// Resolves to { status, stdout, stderr, report }: `report` is the parsed JSON document when the
// arguments ask for --format json. `command` is the checker (the one-file one, say), run in `cwd`.
function checker(args, { command = CHECKER, cwd = ROOT } = {}) {
  return new Promise((resolve, reject) => {
    const child = spawn(process.execPath, [command, ...args], { cwd, stdio: ['ignore', 'pipe', 'pipe'] });
    const out = [];
    const err = [];
    child.stdout.on('data', (chunk) => out.push(chunk));
    child.stderr.on('data', (chunk) => err.push(chunk));
    child.on('error', reject);
    child.on('close', (status) => {
      const stdout = Buffer.concat(out).toString();
      const json = args[args.indexOf('--format') + 1] === 'json' && args.includes('--format');
      resolve({ status, stdout, stderr: Buffer.concat(err).toString(), report: json ? JSON.parse(stdout) : null });
    });
  });
}

// The result of rule `id` in a JSON report.
const resultOf = (report, id) => report.results.find((result) => result.id === id);

module.exports = { ROOT, CHECKER, plugin, checker, resultOf };
