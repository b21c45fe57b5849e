#!/usr/bin/env node
// A local stand-in for the bot server, enough to see and test plugin pages on this machine.
//
//   tools/author/serve.js [--port 8080] [--plugins DIR] [--password PW] [--timeout MS] [--watch REPO]
//
// It finds the executables named plugin_* in DIR (the repository root by default), lists them on
// its front page "/" with each one's page embedded, and runs a plugin once per request in the
// manner of CGI on two routes, as the real host does:
//
//   /plugin_<slug>?QUERY            direct route
//   /plugins?plugin=<slug>&QUERY    hub route
//
// The plugin gets QUERY_STRING (the raw query after "?"), HTTP_X_BOT_PASSWORD and
// HTTP_AUTHORIZATION when the request carries those headers, BOT_PASSWORD when a node password is
// configured (--password, or BOT_PASSWORD in this program's own environment), and this program's
// PATH; nothing else. Its output (header lines, a blank line, the body) becomes the HTTP response, with
// the status taken from a "Status:" line. A plugin that cannot start, exits non-zero, writes no
// header block or runs too long is answered with 502, whose body and log line say which.
//
// It listens on 127.0.0.1 only and answers only requests whose Host header is 127.0.0.1 or
// localhost with its port; any other gets 403, so that a page of another site cannot read the
// plugins' answers through it.
//
// With --watch REPO it is the author's loop: it runs `make` in REPO at start and again after each
// save under REPO/src or REPO/platform or to REPO/Makefile, and answers no request for the front
// page or a plugin until that build is done. While the source does not build, the front page shows the build's
// message and every plugin route answers 502 with it. The front page reloads itself after each
// build that changed something; a plugin page opened on its own route is left alone.
//
// The parts, in tools/author/serve/: run.js runs a plugin and reads its answer, plugins.js finds the
// plugins, watch.js rebuilds on save, front.js and front/ make the front page, router.js answers
// a request, server.js listens. Standard library only.
'use strict';

const path = require('node:path');
const { command } = require('../cli.js');
const { start } = require('./serve/server.js');

const USAGE = 'usage: tools/author/serve.js [--port 8080] [--plugins DIR] [--password PW] [--timeout MS] [--watch REPO]';
const DEFAULT_PORT = 8080;
const { values, wrong, fail } = command('serve', USAGE, {
  options: {
    port: { type: 'string' },
    plugins: { type: 'string' },
    password: { type: 'string' },
    timeout: { type: 'string' },
    watch: { type: 'string' },
  },
});

const port = values.port === undefined ? DEFAULT_PORT : Number(values.port);
if (values.port !== undefined && (!/^[0-9]+$/.test(values.port) || port > 65535)) wrong('--port needs a number from 0 to 65535');
const timeoutMs = values.timeout === undefined ? undefined : Number(values.timeout);
if (timeoutMs !== undefined && !(timeoutMs > 0)) wrong('--timeout needs a positive number of milliseconds');
const options = {
  port,
  plugins: path.resolve(values.plugins || path.join(__dirname, '..', '..')),
  password: values.password ?? (process.env.BOT_PASSWORD || ''),
  timeoutMs,
  watch: values.watch,
  log: (line) => console.log(line),
};
start(options).then(({ url, close }) => {
  console.log(`Bot stand-in listening on ${url} (plugins from ${options.plugins})`);
  const stop = () => close().then(() => process.exit(0));
  process.on('SIGINT', stop);
  process.on('SIGTERM', stop);
}, (error) => fail(error.message));
