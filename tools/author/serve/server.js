// The stand-in host's HTTP server: it listens on the loopback address only, answers only requests
// that name that address in their Host header, and logs one line per request.
'use strict';

const http = require('node:http');
const path = require('node:path');
const { route, sendText } = require('./router.js');
const { createRebuilder } = require('./watch.js');

const DEFAULT_TIMEOUT_MS = 5000;
const LISTEN_ADDRESS = '127.0.0.1';

// Whether a Host header names this server: 127.0.0.1 or localhost with the port it listens on (no
// port means 80). A page of another site whose name an attacker points at 127.0.0.1 (DNS
// rebinding) sends its own name, and must not read the plugins' answers through this server.
function isOwnHost(host, port) {
  const match = /^(?:127\.0\.0\.1|localhost)(?::([0-9]{1,5}))?$/i.exec(host || '');
  return Boolean(match) && Number(match[1] || 80) === port;
}

// Starts the server on 127.0.0.1. Options: port (0 picks a free one), plugins (the folder),
// password, timeoutMs, log (a function given one line per request and build; none by default),
// watch (a repository folder to rebuild on save, with buildCommand, ['make'] by default). Resolves
// with { url, close }; close() ends open connections (a front page's event stream among them)
// and any build that runs.
async function start(options) {
  const log = options.log || (() => {});
  const settings = {
    plugins: path.resolve(options.plugins),
    password: options.password || '',
    timeoutMs: options.timeoutMs || DEFAULT_TIMEOUT_MS,
    rebuilder: null,
  };
  if (options.watch) {
    settings.rebuilder = createRebuilder({
      repo: path.resolve(options.watch), plugins: settings.plugins, command: options.buildCommand, log,
    });
  }
  const closeRebuilder = () => (settings.rebuilder ? settings.rebuilder.close() : Promise.resolve());

  let port = 0; // known once it listens, before any request
  // A request without a Host header is let through to the check below, and refused there.
  const server = http.createServer({ requireHostHeader: false }, async (req, res) => {
    const started = process.hrtime.bigint();
    const requestPath = (req.url || '/').split('?')[0]; // the query may hold a password: never logged
    const finished = new Promise((resolve) => res.once('finish', () => resolve(process.hrtime.bigint())));
    let why;
    try {
      if (isOwnHost(req.headers.host, port)) why = await route(req, res, settings);
      else {
        sendText(res, 403, '403 Forbidden: this server answers only requests addressed to 127.0.0.1 or localhost with its port.');
        why = 'foreign Host';
      }
    } catch (error) {
      if (!res.headersSent) sendText(res, 500, `500 Internal Server Error: ${error.message}`);
      else res.destroy(error);
    }
    const ms = Number((await finished) - started) / 1e6;
    log(`${req.method} ${requestPath} ${res.statusCode} ${ms.toFixed(1)}ms${why ? ` (${why})` : ''}`);
  });
  try {
    await new Promise((resolve, reject) => {
      server.once('error', reject);
      server.listen(options.port, LISTEN_ADDRESS, () => {
        server.off('error', reject);
        resolve();
      });
    });
  } catch (error) {
    await closeRebuilder();
    throw error;
  }
  port = server.address().port;
  const url = `http://${LISTEN_ADDRESS}:${port}/`;
  const close = () => new Promise((done) => {
    server.close(() => closeRebuilder().then(() => done()));
    server.closeAllConnections();
  });
  return { url, close };
}

module.exports = { start };
