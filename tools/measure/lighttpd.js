'use strict';
// A real CGI server for one executable: Debian's lighttpd with mod_cgi, on the loopback interface,
// serving the executable alone at one route. The checks of the plugin behind a real server
// (test/contract/cgi-server.test.js) and the bench's server runs (tools/bench) both start it here.
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const net = require('node:net');
const path = require('node:path');

const LIGHTTPD = ['/usr/sbin/lighttpd', '/usr/local/sbin/lighttpd'].find((file) => fs.existsSync(file));
const START_LIMIT_MS = 10000;

// A port on the loopback interface that was free a moment ago.
function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer().on('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

// The configuration, in lighttpd's own syntax: `executable` is the only thing served, at `route`, as
// a CGI program, with `environment` added to what it is given.
function config({ directory, port, route, executable, environment }) {
  const quote = (text) => JSON.stringify(text);
  const variables = Object.entries(environment).map(([name, value]) => `${quote(name)} => ${quote(value)}`);
  return [
    `server.document-root = ${quote(directory)}`,
    'server.bind = "127.0.0.1"',
    `server.port = ${port}`,
    `server.errorlog = ${quote(path.join(directory, 'error.log'))}`,
    'server.max-connections = 256',
    `server.modules = ("mod_alias", ${variables.length ? '"mod_setenv", ' : ''}"mod_cgi")`,
    `alias.url = (${quote(route)} => ${quote(executable)})`,
    `$HTTP["url"] == ${quote(route)} { cgi.assign = ("" => "") }`,
    ...(variables.length ? [`setenv.add-environment = (${variables.join(', ')})`] : []),
    '',
  ].join('\n');
}

// Starts lighttpd in the foreground, its configuration and error log in `directory`, serving
// `executable` (an absolute path) at `route`. Resolves once it accepts connections, to { port,
// stop }, where stop() ends it and resolves when it has exited; rejects with lighttpd's own words
// when it does not start.
async function startLighttpd({ directory, route, executable, environment = {} }) {
  const port = await freePort();
  const file = path.join(directory, 'lighttpd.conf');
  fs.writeFileSync(file, config({ directory, port, route, executable, environment }));
  const server = spawn(LIGHTTPD, ['-D', '-f', file], { stdio: ['ignore', 'ignore', 'pipe'] });
  let errors = '';
  server.stderr.on('data', (chunk) => (errors += chunk));
  const exited = new Promise((resolve) => server.on('exit', resolve));
  for (let waited = 0; ; waited += 50) {
    const open = await new Promise((resolve) => {
      const socket = net.connect(port, '127.0.0.1', () => socket.end(() => resolve(true)));
      socket.on('error', () => resolve(false));
    });
    if (open) return { port, stop: () => (server.kill(), exited) };
    if (server.exitCode !== null || waited > START_LIMIT_MS) {
      server.kill();
      const log = path.join(directory, 'error.log');
      throw new Error(`lighttpd did not start: ${errors}${fs.existsSync(log) ? fs.readFileSync(log, 'utf8') : ''}`);
    }
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

module.exports = { LIGHTTPD, startLighttpd };
