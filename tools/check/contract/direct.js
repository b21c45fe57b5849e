'use strict';
// A direct run: the plugin started as the host starts it, standard output read through a pipe as
// it comes. Standard input is a file the checker wrote; the host sends nothing there, and whatever
// the plugin reads of it shows as the file's offset moved (the plugin's descriptor and the
// checker's share one offset).
const fs = require('node:fs');
const path = require('node:path');
const { launch, hostEnvironment } = require('./launch');

const STDIN_TEXT = Buffer.from('standard input: the host sends nothing here, and a plugin reads none of it\n');

// Writes the standard-input file into `directory` once; returns its path.
function stdinFile(directory) {
  const file = path.join(directory, 'stdin');
  if (!fs.existsSync(file)) fs.writeFileSync(file, STDIN_TEXT);
  return file;
}

// Runs `plugin` with run.args and run.env; resolves to launch()'s result and `stdinRead`, the
// number of bytes of standard input the plugin consumed.
async function runDirect(plugin, run, { directory, limitMs }) {
  const stdin = fs.openSync(stdinFile(directory), 'r');
  try {
    const result = await launch(plugin, run.args, {
      env: hostEnvironment(run.env),
      stdio: [stdin, 'pipe', 'pipe'],
      limitMs,
    });
    const rest = Buffer.alloc(STDIN_TEXT.length);
    const left = fs.readSync(stdin, rest, 0, rest.length, null);
    return { ...result, stdinRead: STDIN_TEXT.length - left };
  } finally {
    fs.closeSync(stdin);
  }
}

module.exports = { runDirect };
