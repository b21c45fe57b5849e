// The routes: the front page "/", its build events, and a plugin run once per request on two
// routes, as the real host does:
//
//   /plugin_<slug>?QUERY            direct route
//   /plugins?plugin=<slug>&QUERY    hub route
//
// route() answers a request and resolves with why, in a few fixed words, when it answered 502,
// for the request's log line.
'use strict';

const path = require('node:path');
const { pluginEnvironment, fault, runCgi } = require('./run.js');
const { SLUG, pluginPath, listPlugins } = require('./plugins.js');
const { EVENTS_PATH, frontPage } = require('./front.js');

// Headers that describe the connection or the body framing are this server's business, not the
// plugin's: Node frames the relayed body itself.
const NOT_RELAYED = new Set(['status', 'content-length', 'transfer-encoding', 'connection', 'keep-alive']);

// The head of every answer of this server's own (not a plugin's): never cached, never sniffed.
function writeOwnHead(res, status, contentType, extraHeaders = {}) {
  res.writeHead(status, { 'Content-Type': contentType, 'Cache-Control': 'no-store', 'X-Content-Type-Options': 'nosniff', ...extraHeaders });
}

function sendText(res, status, text, extraHeaders) {
  writeOwnHead(res, status, 'text/plain; charset=utf-8', extraHeaders);
  res.end(`${text}\n`);
}

// Answers 502 with the fault's detail; returns its why, for the log line.
function badGateway(res, { detail, why }) {
  sendText(res, 502, `502 Bad Gateway: ${detail}`);
  return why;
}

// Runs the plugin for the request and relays its answer; returns why when it answers 502.
async function servePlugin(req, res, file, rawQuery, options) {
  const answer = await runCgi(file, pluginEnvironment(rawQuery, req.headers, options.password), options.timeoutMs);
  if (answer.fault) return badGateway(res, answer.fault);
  // Relayed as written, names in the plugin's own spelling; a repeated header keeps every value.
  const headers = {};
  const spelling = new Map();
  for (const [name, value] of answer.headers) {
    const lower = name.toLowerCase();
    if (NOT_RELAYED.has(lower)) continue;
    if (!spelling.has(lower)) spelling.set(lower, name);
    const key = spelling.get(lower);
    headers[key] = key in headers ? [].concat(headers[key], value) : value;
  }
  headers['Content-Length'] = answer.body.length;
  try {
    res.writeHead(answer.status, answer.reason || undefined, headers);
  } catch (error) {
    const plugin = path.basename(file);
    return badGateway(res, fault(`${plugin} wrote a header this server cannot relay: ${error.message}`, `${plugin} wrote a header this server cannot relay`));
  }
  res.end(answer.body);
  return undefined;
}

// Sends the rebuilder's generation now and after every build that changes it, as server-sent
// events, for as long as the page stays open.
function streamGenerations(req, res, rebuilder) {
  writeOwnHead(res, 200, 'text/event-stream; charset=utf-8');
  if (req.method === 'HEAD') {
    res.end();
    return;
  }
  const send = (generation) => res.write(`data: ${generation}\n\n`);
  send(rebuilder.generation);
  res.on('close', rebuilder.subscribe(send));
}

// Options: plugins (folder), password, timeoutMs, rebuilder (null unless rebuilding on save).
async function route(req, res, options) {
  if (req.method !== 'GET' && req.method !== 'HEAD') {
    return sendText(res, 405, 'Only GET and HEAD are served here.', { Allow: 'GET, HEAD' });
  }
  const target = req.url || '/';
  const mark = target.indexOf('?');
  const rawQuery = mark === -1 ? '' : target.slice(mark + 1);
  let pathname;
  try {
    pathname = new URL(target, 'http://localhost').pathname;
  } catch {
    return sendText(res, 400, 'Bad request target.');
  }

  // When rebuilding on save, the front page and the plugins are served from the latest sources:
  // a request waits for the build that a save has started or scheduled.
  const { rebuilder } = options;
  if (rebuilder && pathname === EVENTS_PATH) return streamGenerations(req, res, rebuilder);
  if (pathname === '/') {
    if (rebuilder) await rebuilder.settled();
    const build = rebuilder && { ...rebuilder.state, generation: rebuilder.generation, repo: rebuilder.repo, command: rebuilder.command };
    const plugins = build && !build.ok ? [] : await listPlugins(options.plugins, options.timeoutMs);
    writeOwnHead(res, 200, 'text/html; charset=utf-8');
    res.end(frontPage(plugins, Boolean(options.password), build));
    return undefined;
  }

  let slug = null;
  if (pathname === '/plugins') {
    slug = new URLSearchParams(rawQuery).get('plugin');
    if (!slug) return sendText(res, 404, 'The hub route needs a plugin parameter: /plugins?plugin=<slug>&...');
  } else if (pathname.startsWith('/plugin_')) {
    slug = pathname.slice('/plugin_'.length);
  } else {
    return sendText(res, 404, 'Nothing here. Try / for the list of plugins.');
  }
  if (rebuilder && SLUG.test(slug)) {
    await rebuilder.settled();
    const { ok, output } = rebuilder.state;
    if (!ok) return badGateway(res, fault(`the build failed, so no plugin is served until it builds again.\n\n${output}`, 'the build failed'));
  }
  const file = pluginPath(options.plugins, slug);
  if (!file) return sendText(res, 404, 'No such plugin.');
  return servePlugin(req, res, file, rawQuery, options);
}

module.exports = { route, sendText };
