// The stand-in host's HTTP server: it listens on the loopback address only and logs one line per
// request.
'use strict';

const http = require('node:http');
const path = require('node:path');
const { route, sendText } = require('./router.js');
const { createRebuilder } = require('./watch.js');

const DEFAULT_TIMEOUT_MS = 5000;
const LISTEN_ADDRESS = '127.0.0.1';

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

  const server = http.createServer(async (req, res) => {
    const started = process.hrtime.bigint();
    const requestPath = (req.url || '/').split('?')[0]; // the query may hold a password: never logged
    const finished = new Promise((resolve) => res.once('finish', () => resolve(process.hrtime.bigint())));
    let why;
    try {
      why = await route(req, res, settings);
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
  const url = `http://${LISTEN_ADDRESS}:${server.address().port}/`;
  const close = () => new Promise((done) => {
    server.close(() => closeRebuilder().then(() => done()));
    server.closeAllConnections();
  });
  return { url, close };
}

module.exports = { start };
