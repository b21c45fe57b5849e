'use strict';
// The one way every command of the kit in Node.js takes its arguments, asks for help and fails
// (tools/cli.sh is its twin for the shell commands):
//   --help, -h        the usage on standard output, exit status 0, and nothing started
//   a wrong option    the usage on standard error, exit status 2
//   a failure         "NAME: what failed" on standard error, exit status 1
const { parseArgs } = require('node:util');

// Reads the command line (`args`, process.argv less node and the script by default): `options` as
// node:util's parseArgs takes them, `positionals` the names of the arguments it takes in order (a
// trailing '...' takes any number; one ending in '?' may be left out). Returns { values, positionals, say, fail, wrong }, or ends the process as above.
function command(name, usage, { options = {}, positionals = [], args = process.argv.slice(2) } = {}) {
  const fail = (message) => {
    process.stderr.write(`${name}: ${message}\n`);
    process.exit(1);
  };
  const wrong = (message) => {
    process.stderr.write(`${name}: ${message}\n${usage.trimEnd()}\n`);
    process.exit(2);
  };
  let parsed;
  try {
    parsed = parseArgs({
      args,
      options: { ...options, help: { type: 'boolean', short: 'h' } },
      allowPositionals: positionals.length > 0,
      strict: true,
    });
  } catch (error) {
    return wrong(error.message);
  }
  if (parsed.values.help) {
    process.stdout.write(`${usage.trimEnd()}\n`);
    process.exit(0);
  }
  const required = positionals.filter((word) => !word.endsWith('?') && word !== '...').length;
  const most = positionals.includes('...') ? Infinity : positionals.length;
  // An empty argument counts as missing: make passes NAME= as "" when it is not set.
  const given = parsed.positionals.length;
  const missing = positionals.slice(0, required).findIndex((_, i) => i >= given || parsed.positionals[i] === '');
  if (missing >= 0) wrong(`${positionals[missing]} is missing`);
  if (given > most) wrong(`one argument too many: ${parsed.positionals[most]}`);
  const say = (line) => process.stdout.write(`${line}\n`);
  return { values: parsed.values, positionals: parsed.positionals, say, fail, wrong };
}

module.exports = { command };
