'use strict';
// A real CGI host: lighttpd with mod_cgi on the loopback interface, serving the plugin alone at
// two routes, /open with no node password and /locked with one, so that the answers a browser
// gets can be held against the plugin's direct ones.
const { spawn, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const http = require('node:http');
const net = require('node:net');
const path = require('node:path');
const { hostEnvironment } = require('../plugin/run');

const START_LIMIT_MS = 10000;

// The lighttpd executable, or null when it is not installed.
function findLighttpd() {
  const found = spawnSync('sh', ['-c', 'command -v lighttpd'], { encoding: 'utf8', env: { PATH: `${process.env.PATH}:/usr/sbin:/usr/local/sbin` } });
  const file = found.status === 0 ? found.stdout.trim() : '';
  return file && fs.existsSync(file) ? file : null;
}

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer().on('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

// lighttpd's configuration: `plugin` (an absolute path) as a CGI program at both routes, the
// locked one with BOT_PASSWORD `password`, and the PATH a host gives a plugin.
function config({ directory, port, plugin, password }) {
  const quote = (text) => JSON.stringify(text);
  const PATH = quote(hostEnvironment({}).PATH);
  return [
    `server.document-root = ${quote(directory)}`,
    'server.bind = "127.0.0.1"',
    `server.port = ${port}`,
    `server.errorlog = ${quote(path.join(directory, 'lighttpd-error.log'))}`,
    'server.modules = ("mod_alias", "mod_setenv", "mod_cgi")',
    `alias.url = ("/open" => ${quote(plugin)}, "/locked" => ${quote(plugin)})`,
    `$HTTP["url"] == "/open" { cgi.assign = ("" => ""), setenv.add-environment = ("PATH" => ${PATH}) }`,
    `$HTTP["url"] == "/locked" { cgi.assign = ("" => ""), setenv.add-environment = ("PATH" => ${PATH}, "BOT_PASSWORD" => ${quote(password)}) }`,
    '',
  ].join('\n');
}

// Starts lighttpd; resolves to { port, stop } once it accepts connections, or rejects with its own
// words.
async function startLighttpd({ executable, directory, plugin, password }) {
  const port = await freePort();
  const file = path.join(directory, 'lighttpd.conf');
  fs.writeFileSync(file, config({ directory, port, plugin, password }));
  const server = spawn(executable, ['-D', '-f', file], { stdio: ['ignore', 'ignore', 'pipe'] });
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
      const log = path.join(directory, 'lighttpd-error.log');
      throw new Error(`lighttpd did not start: ${errors}${fs.existsSync(log) ? fs.readFileSync(log, 'utf8') : ''}`.trim());
    }
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

// GET `target` with `headers`; resolves to { status, headers, body } or { error }.
function get(port, target, headers, limitMs) {
  return new Promise((resolve) => {
    const request = http.get({ host: '127.0.0.1', port, path: target, headers, timeout: limitMs }, (response) => {
      const chunks = [];
      response.on('data', (chunk) => chunks.push(chunk));
      response.on('end', () => resolve({ status: response.statusCode, headers: response.headers, body: Buffer.concat(chunks) }));
      response.on('error', (error) => resolve({ error }));
    });
    request.on('timeout', () => request.destroy(new Error(`no answer within ${limitMs / 1000} s`)));
    request.on('error', (error) => resolve({ error }));
  });
}

module.exports = { findLighttpd, startLighttpd, get };
