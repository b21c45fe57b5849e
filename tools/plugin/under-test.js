'use strict';
// The build that make golden and the checks ask their questions of: PLUGIN_CMD, which may start
// with a launcher (as in "wine plugin_NAME.exe"), or this checkout's native build. A bare
// executable gets the environment a host gives a plugin; a launcher such as Wine also its own
// variables, and the locale by which it reads the environment's bytes.
const path = require('node:path');
const { REPOSITORY, PROGRAM } = require('./checkout.js');
const { hostEnvironment, runOnce } = require('./run.js');

const commandLine = process.env.PLUGIN_CMD ? process.env.PLUGIN_CMD.split(/\s+/) : [path.join(REPOSITORY, PROGRAM)];
const [command, ...launcherArgs] = commandLine;
const underLauncher = launcherArgs.length > 0;

const launcherEnv = {};
if (underLauncher)
  for (const name of ['PATH', 'HOME', 'LC_ALL', 'WINEPREFIX', 'WINEDEBUG', 'WINESERVER', 'WINEDLLOVERRIDES'])
    if (process.env[name] !== undefined) launcherEnv[name] = process.env[name];

// Runs one request: `query` becomes QUERY_STRING (left unset when undefined), `env` adds variables.
// The answer comes back as a latin1 string too, `out`, so one character stands for one byte.
function run({ args = [], query, env = {} } = {}) {
  const request = { ...env };
  if (query !== undefined) request.QUERY_STRING = query;
  const result = runOnce(commandLine, args, underLauncher ? { ...launcherEnv, ...request } : hostEnvironment(request));
  if (result.error) throw result.error;
  return {
    status: result.status,
    stdout: result.stdout,
    out: result.stdout.toString('latin1'),
    err: result.stderr.toString('latin1'),
  };
}

module.exports = { commandLine, command, underLauncher, launcherEnv, run };
