'use strict';
// A direct run: the plugin started as the host starts it, standard output read through a pipe as
// it comes. Standard input is a file the checker wrote; the host sends nothing there, and whatever
// the plugin reads of it shows as the file's offset moved (the plugin's descriptor and the
// checker's share one offset). Values that are bytes and not text (run.raw), which Node.js cannot
// pass, are set by sh, from the same words the replay line shows, before it starts the plugin.
const fs = require('node:fs');
const path = require('node:path');
const { launch, hostEnvironment } = require('../plugin/run');
const { shellValue } = require('./show');
const { collector } = require('./answer');

const STDIN_TEXT = Buffer.from('standard input: the host sends nothing here, and a plugin reads none of it\n');

// Writes the standard-input file into `directory` once; returns its path.
function stdinFile(directory) {
  const file = path.join(directory, 'stdin');
  if (!fs.existsSync(file)) fs.writeFileSync(file, STDIN_TEXT);
  return file;
}

// The command and arguments that start `plugin` for `run`: through sh when it sets raw values.
function commandOf(plugin, run) {
  const raw = Object.entries(run.raw || {});
  if (raw.length === 0) return [plugin, run.args];
  const set = raw.map(([name, value]) => `${name}=${shellValue(value)}; export ${name}; `).join('');
  return ['/bin/sh', ['-c', `${set}exec "$@"`, 'sh', plugin, ...run.args]];
}

// Runs `plugin` with run.args and run.env; resolves to launch()'s result and `stdinRead`, the
// number of bytes of standard input the plugin consumed. `ended` as launch() takes it.
async function runDirect(plugin, run, { directory, limitMs, ended }) {
  const stdin = fs.openSync(stdinFile(directory), 'r');
  try {
    const [command, args] = commandOf(plugin, run);
    const result = await launch(command, args, {
      env: hostEnvironment(run.env),
      stdio: [stdin, 'pipe', 'pipe'],
      collect: collector,
      limitMs,
      ended,
    });
    const rest = Buffer.alloc(STDIN_TEXT.length);
    const left = fs.readSync(stdin, rest, 0, rest.length, null);
    return { ...result, stdinRead: STDIN_TEXT.length - left };
  } finally {
    fs.closeSync(stdin);
  }
}

module.exports = { runDirect };
