'use strict';
// Running the programs the bench measures and builds with, ending the bench with a message when one cannot run. Servers started for the bench are
// stopped however it ends.
const { spawnSync } = require('node:child_process');
const { hostEnvironment } = require('../plugin/run.js');

const servers = [];

function fail(message) {
  servers.forEach((server) => server.stop());
  process.stderr.write(`bench: ${message}\n`);
  process.exit(1);
}

// A plugin, a floor or a reference script runs in the environment a host gives a plugin.
const hostEnv = hostEnvironment;

function run(command, args, options = {}) {
  const result = spawnSync(command, args, { maxBuffer: 1 << 26, ...options });
  if (result.error) fail(`${command}: ${result.error.message}`);
  return result;
}

function runOk(command, args, options) {
  const result = run(command, args, options);
  if (result.status !== 0) fail(`${command} ${args.join(' ')}: ${result.stderr}`);
  return result;
}

// The first line a command prints of itself (its version), or "unknown".
function firstLine(command, args) {
  const result = spawnSync(command, args, { encoding: 'utf8' });
  return result.status === 0 ? result.stdout.split('\n')[0].trim() : 'unknown';
}

module.exports = { servers, fail, hostEnv, run, runOk, firstLine };
