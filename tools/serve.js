#!/usr/bin/env node
// A local stand-in for the bot server, enough to see and test plugin pages on this machine.
//
//   node tools/serve.js [--port 8080] [--plugins DIR] [--password PW] [--timeout MS]
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
// configured (--password, or BOT_PASSWORD in this program's own environment), and a minimal PATH;
// nothing else. Its output (header lines, a blank line, the body) becomes the HTTP response, with
// the status taken from a "Status:" line. A plugin that cannot start, exits non-zero, writes no
// header block or runs too long is answered with 502, whose body and log line say which.
// Standard library only.
'use strict';

const http = require('node:http');
const fs = require('node:fs');
const path = require('node:path');
const { spawn } = require('node:child_process');

const DEFAULT_PORT = 8080;
const DEFAULT_TIMEOUT_MS = 5000;
const MAX_OUTPUT_BYTES = 8 * 1024 * 1024; // far above any page; guards against a runaway plugin
const PLUGIN_PATH = '/usr/local/bin:/usr/bin:/bin';
const SLUG = /^[a-z0-9_]+$/;
const PLUGIN_FILE = /^plugin_([a-z0-9_]+)$/;
// Headers that describe the connection or the body framing are this server's business, not the
// plugin's: Node frames the relayed body itself.
const NOT_RELAYED = new Set(['status', 'content-length', 'transfer-encoding', 'connection', 'keep-alive']);

/* ==== Running a plugin ==== */

// Runs an executable with the given arguments and environment, no standard input, and collects its
// standard output. Resolves (never rejects) with { stdout, code, signal, error, timedOut, tooLarge }.
function runExecutable(file, args, env, timeoutMs) {
  return new Promise((resolve) => {
    const chunks = [];
    let size = 0;
    let timedOut = false;
    let tooLarge = false;
    let settled = false;
    let child;
    const finish = (result) => {
      if (settled) return;
      settled = true;
      clearTimeout(timer);
      resolve({ stdout: Buffer.concat(chunks), timedOut, tooLarge, ...result });
    };
    const timer = setTimeout(() => {
      timedOut = true;
      if (child) child.kill('SIGKILL');
    }, timeoutMs);
    try {
      child = spawn(file, args, { env, stdio: ['ignore', 'pipe', 'ignore'], cwd: path.dirname(file) });
    } catch (error) {
      finish({ error, code: null, signal: null });
      return;
    }
    child.on('error', (error) => finish({ error, code: null, signal: null }));
    child.stdout.on('data', (chunk) => {
      size += chunk.length;
      if (size > MAX_OUTPUT_BYTES) {
        tooLarge = true;
        child.kill('SIGKILL');
        return;
      }
      chunks.push(chunk);
    });
    child.on('close', (code, signal) => finish({ error: null, code, signal }));
  });
}

// Splits CGI output into its header lines and body. The block ends at the first empty line, with
// CRLF or LF line ends. Returns { status, reason, headers: [[name, value]...], body } or, when the
// output has no valid header block, { problem, why }: what is wrong, quoting the output, and the
// same in fixed words for the log.
function parseCgiOutput(output) {
  const buffer = Buffer.isBuffer(output) ? output : Buffer.from(output);
  const crlf = buffer.indexOf('\r\n\r\n');
  const lf = buffer.indexOf('\n\n');
  let end;
  let skip;
  if (crlf !== -1 && (lf === -1 || crlf < lf)) [end, skip] = [crlf, 4];
  else if (lf !== -1) [end, skip] = [lf, 2];
  else return { problem: 'the plugin wrote no header block', why: 'wrote no header block' };
  // A CR before the LF-only terminator belongs to the last header line ("X: y\r\n\n").
  const block = buffer.subarray(0, end).toString('latin1');
  if (block.trim() === '') return { problem: 'the plugin wrote no header block', why: 'wrote no header block' };

  let status = 200;
  let reason = '';
  let location = false;
  const headers = [];
  for (const line of block.split(/\r?\n/)) {
    const match = /^([!#$%&'*+.^_`|~0-9A-Za-z-]+):[ \t]*(.*?)[ \t\r]*$/.exec(line);
    if (!match) {
      return { problem: `the plugin wrote a malformed header line: ${JSON.stringify(line)}`, why: 'wrote a malformed header line' };
    }
    const [, name, value] = match;
    const lower = name.toLowerCase();
    if (lower === 'status') {
      const parsed = /^([1-5][0-9][0-9])(?:[ \t]+(.*))?$/.exec(value);
      if (!parsed || Number(parsed[1]) < 200) {
        return { problem: `the plugin wrote an invalid status: ${JSON.stringify(value)}`, why: 'wrote an invalid status' };
      }
      status = Number(parsed[1]);
      reason = parsed[2] || '';
    } else if (lower === 'location') {
      location = true;
    }
    headers.push([name, value]);
  }
  if (location && !headers.some(([name]) => name.toLowerCase() === 'status')) status = 302;
  return { status, reason, headers, body: buffer.subarray(end + skip) };
}

// The environment a plugin run gets: the query and the two credential headers from the request,
// the node password from the configuration, a PATH, and nothing else.
function pluginEnvironment(rawQuery, requestHeaders, password) {
  const env = { PATH: PLUGIN_PATH, QUERY_STRING: rawQuery };
  if (requestHeaders['x-bot-password'] !== undefined) env.HTTP_X_BOT_PASSWORD = requestHeaders['x-bot-password'];
  if (requestHeaders.authorization !== undefined) env.HTTP_AUTHORIZATION = requestHeaders.authorization;
  if (password) env.BOT_PASSWORD = password;
  return env;
}

/* ==== Finding plugins ==== */

function isExecutableFile(file) {
  try {
    if (!fs.statSync(file).isFile()) return false;
    fs.accessSync(file, fs.constants.X_OK);
    return true;
  } catch {
    return false;
  }
}

// The path of plugin_<slug> in the folder, or null when the slug is unsafe or no such executable
// exists. The slug pattern has no dot or slash, so the path cannot leave the folder.
function pluginPath(dir, slug) {
  if (typeof slug !== 'string' || !SLUG.test(slug)) return null;
  const file = path.join(dir, `plugin_${slug}`);
  return isExecutableFile(file) ? file : null;
}

// Every plugin in the folder with its meta record: [{ slug, file, name, desc, metaOk }], by slug.
async function listPlugins(dir, timeoutMs = DEFAULT_TIMEOUT_MS) {
  let names;
  try {
    names = fs.readdirSync(dir);
  } catch {
    return [];
  }
  const found = names
    .map((name) => PLUGIN_FILE.exec(name))
    .filter((match) => match && isExecutableFile(path.join(dir, match[0])))
    .map((match) => ({ slug: match[1], file: path.join(dir, match[0]) }))
    .sort((a, b) => (a.slug < b.slug ? -1 : a.slug > b.slug ? 1 : 0));
  return Promise.all(found.map(async (plugin) => {
    const run = await runExecutable(plugin.file, ['--meta'], { PATH: PLUGIN_PATH }, timeoutMs);
    let meta = null;
    if (!run.error && run.code === 0 && !run.timedOut) {
      try {
        meta = JSON.parse(run.stdout.toString('utf8').split('\n')[0]);
      } catch {
        meta = null;
      }
    }
    const metaOk = meta !== null && typeof meta === 'object';
    return {
      ...plugin,
      name: metaOk && typeof meta.name === 'string' ? meta.name : plugin.slug,
      desc: metaOk && typeof meta.desc === 'string' ? meta.desc : '',
      metaOk,
    };
  }));
}

/* ==== Front page ==== */

function escapeHtml(text) {
  return String(text).replace(/[&<>"']/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' })[c]);
}

// The front page stores node passwords where plugin pages look for them: "bot_active_pwd", and
// "bot_pwd_" + node when a node name is given; it remembers that name under "bot_active_node" and
// gives it to the embedded pages in their address. A page load from a frame carries no password
// header, so when this server requires a password the embedded pages also get it as "pwd" in
// their address, where the plugin's gate accepts it.
const FRONT_SCRIPT = `(function(){
  var s=localStorage,locked=document.body.getAttribute('data-locked')==='1';
  var node=document.getElementById('node'),pwd=document.getElementById('pwd'),note=document.getElementById('note');
  function stored(){
    var n=s.getItem('bot_active_node')||'';
    return {node:n,pwd:(n&&s.getItem('bot_pwd_'+n))||s.getItem('bot_active_pwd')||''};
  }
  function frames(){
    var c=stored();
    document.querySelectorAll('iframe[data-src]').forEach(function(f){
      f.src=f.getAttribute('data-src')+(c.node?'&node='+encodeURIComponent(c.node):'')+
        (locked&&c.pwd?'&pwd='+encodeURIComponent(c.pwd):'');
    });
  }
  var c=stored();
  node.value=c.node;pwd.value=c.pwd;
  document.getElementById('save').addEventListener('click',function(){
    var n=node.value.trim(),p=pwd.value;
    if(n){s.setItem('bot_active_node',n);s.setItem('bot_pwd_'+n,p);}else{s.removeItem('bot_active_node');}
    s.setItem('bot_active_pwd',p);
    note.textContent=p?'Password stored'+(n?' for node '+n:'')+'.':'Password cleared.';
    frames();
  });
  document.getElementById('forget').addEventListener('click',function(){
    var n=s.getItem('bot_active_node');
    if(n)s.removeItem('bot_pwd_'+n);
    s.removeItem('bot_active_pwd');s.removeItem('bot_active_node');
    node.value='';pwd.value='';note.textContent='Stored passwords removed.';
    frames();
  });
  frames();
})();`;

const FRONT_STYLE = `body{margin:0;padding:16px;background:#0d0d10;color:#f5f5f7;font:14px/1.5 -apple-system,BlinkMacSystemFont,'Segoe UI',sans-serif}
main{max-width:920px;margin:0 auto}h1{font-size:20px;margin:0 0 12px}h2{font-size:16px;margin:0}
.box{background:#16161a;border:1px solid rgba(255,255,255,.11);border-radius:14px;padding:14px;margin-bottom:14px}
.muted{color:#8e8e96}a{color:#0a84ff}label{margin-right:10px}input{background:#1e1e24;color:inherit;border:1px solid rgba(255,255,255,.11);border-radius:8px;padding:5px 8px}
button{background:#0a84ff;color:#fff;border:0;border-radius:999px;padding:5px 14px;cursor:pointer}
iframe{width:100%;height:720px;border:1px solid rgba(255,255,255,.11);border-radius:10px;margin-top:10px;background:#0d0d10}`;

function frontPage(plugins, passwordRequired) {
  const sections = plugins.map((p) => {
    const hub = `/plugins?plugin=${encodeURIComponent(p.slug)}`;
    return `<section class='box' id='plugin-${escapeHtml(p.slug)}'><h2>${escapeHtml(p.name)}</h2>` +
      `<p class='muted'>${escapeHtml(p.desc || (p.metaOk ? '' : 'no meta record'))} &middot; ` +
      `<a href='/plugin_${escapeHtml(p.slug)}'>open page</a> &middot; <a href='${escapeHtml(hub)}'>through the hub</a></p>` +
      `<iframe title='${escapeHtml(p.name)}' data-src='${escapeHtml(`${hub}&embed=1`)}'></iframe></section>`;
  }).join('');
  const none = `<p class='box muted'>No executables named plugin_* in this folder.</p>`;
  return `<!DOCTYPE html>
<html lang='en'><head><meta charset='utf-8'><meta name='viewport' content='width=device-width,initial-scale=1'>
<title>Bot (local)</title><style>${FRONT_STYLE}</style></head><body data-locked='${passwordRequired ? 1 : 0}'><main>
<h1>Bot (local stand-in)</h1>
<div class='box'><p class='muted'>Node password: ${passwordRequired ? 'required by this server' : 'not set on this server'}.
Store one here and the plugin pages send it with their requests.</p>
<label>Node <input id='node' type='text' autocomplete='off' placeholder='optional'></label>
<label>Password <input id='pwd' type='password' autocomplete='off'></label>
<button id='save' type='button'>Store</button> <button id='forget' type='button'>Forget</button>
<span id='note' class='muted'></span></div>
${sections || none}
</main><script>${FRONT_SCRIPT}</script></body></html>
`;
}

/* ==== Server ==== */

function sendText(res, status, text, extraHeaders = {}) {
  res.writeHead(status, {
    'Content-Type': 'text/plain; charset=utf-8',
    'Cache-Control': 'no-store',
    'X-Content-Type-Options': 'nosniff',
    ...extraHeaders,
  });
  res.end(`${text}\n`);
}

// Why each 502 was sent, for its log line: a few fixed words, never anything that the plugin wrote
// or the request carried (its query may hold a password).
const failures = new WeakMap();

// Answers 502 with `detail` in the body, and `why` in the log line.
function badGateway(res, detail, why) {
  failures.set(res, why);
  sendText(res, 502, `502 Bad Gateway: ${detail}`);
}

async function servePlugin(req, res, file, rawQuery, options) {
  const env = pluginEnvironment(rawQuery, req.headers, options.password);
  const run = await runExecutable(file, [], env, options.timeoutMs);
  const name = path.basename(file);
  let failure = null; // [detail, why]
  if (run.error) failure = [`could not be started: ${run.error.message}`, `could not be started (${run.error.code || 'error'})`];
  else if (run.timedOut) failure = [`ran longer than ${options.timeoutMs} ms and was stopped`];
  else if (run.tooLarge) failure = [`wrote more than ${MAX_OUTPUT_BYTES} bytes and was stopped`];
  else if (run.signal) failure = [`was ended by signal ${run.signal}`];
  else if (run.code !== 0) failure = [`exited with status ${run.code}`];
  let answer = null;
  if (!failure) {
    answer = parseCgiOutput(run.stdout);
    if (answer.problem) return badGateway(res, `${name}: ${answer.problem}`, `${name} ${answer.why}`);
  }
  if (failure) return badGateway(res, `${name} ${failure[0]}`, `${name} ${failure[1] || failure[0]}`);

  // Relayed as written, names in the plugin's own spelling; a repeated header keeps every value.
  const headers = {};
  const spelling = new Map();
  for (const [headerName, value] of answer.headers) {
    const lower = headerName.toLowerCase();
    if (NOT_RELAYED.has(lower)) continue;
    if (!spelling.has(lower)) spelling.set(lower, headerName);
    const key = spelling.get(lower);
    headers[key] = key in headers ? [].concat(headers[key], value) : value;
  }
  headers['Content-Length'] = answer.body.length;
  try {
    res.writeHead(answer.status, answer.reason || undefined, headers);
  } catch (error) {
    return badGateway(res, `${name} wrote a header this server cannot relay: ${error.message}`, `${name} wrote a header this server cannot relay`);
  }
  res.end(answer.body);
}

async function handle(req, res, options) {
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

  if (pathname === '/') {
    const plugins = await listPlugins(options.plugins, options.timeoutMs);
    const page = frontPage(plugins, Boolean(options.password));
    res.writeHead(200, {
      'Content-Type': 'text/html; charset=utf-8',
      'Cache-Control': 'no-store',
      'X-Content-Type-Options': 'nosniff',
    });
    return res.end(page);
  }

  let slug = null;
  if (pathname === '/plugins') {
    slug = new URLSearchParams(rawQuery).get('plugin');
    if (!slug) return sendText(res, 404, 'The hub route needs a plugin parameter: /plugins?plugin=<slug>&...');
  } else if (pathname.startsWith('/plugin_')) {
    slug = pathname.slice('/plugin_'.length);
  } else {
    return sendText(res, 404, `Nothing here. Try / for the list of plugins.`);
  }
  const file = pluginPath(options.plugins, slug);
  if (!file) return sendText(res, 404, 'No such plugin.');
  return servePlugin(req, res, file, rawQuery, options);
}

// Creates the server without listening. Options: plugins (folder), password, timeoutMs, log
// (a function given one line per request; console.log by default, null for silence).
function createServer(options = {}) {
  const settings = {
    plugins: path.resolve(options.plugins || path.join(__dirname, '..')),
    password: options.password || '',
    timeoutMs: options.timeoutMs || DEFAULT_TIMEOUT_MS,
    log: options.log === undefined ? (line) => console.log(line) : options.log,
  };
  return http.createServer((req, res) => {
    const started = process.hrtime.bigint();
    const requestPath = (req.url || '/').split('?')[0]; // the query may hold a password: never logged
    res.on('finish', () => {
      const ms = Number(process.hrtime.bigint() - started) / 1e6;
      const why = failures.has(res) ? ` (${failures.get(res)})` : '';
      if (settings.log) settings.log(`${req.method} ${requestPath} ${res.statusCode} ${ms.toFixed(1)}ms${why}`);
    });
    handle(req, res, settings).catch((error) => {
      if (!res.headersSent) sendText(res, 500, `500 Internal Server Error: ${error.message}`);
      else res.destroy(error);
    });
  });
}

// Starts listening on 127.0.0.1 (port 0 picks a free one). Resolves with { server, port, url, close }.
function start(options = {}) {
  const server = createServer(options);
  const port = options.port === undefined ? DEFAULT_PORT : options.port;
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, '127.0.0.1', () => {
      server.off('error', reject);
      const actual = server.address().port;
      resolve({
        server,
        port: actual,
        url: `http://127.0.0.1:${actual}/`,
        close: () => new Promise((done) => {
          server.closeAllConnections();
          server.close(() => done());
        }),
      });
    });
  });
}

function parseArguments(argv) {
  const options = { port: DEFAULT_PORT, password: process.env.BOT_PASSWORD || '' };
  for (let i = 0; i < argv.length; i++) {
    const arg = argv[i];
    const [flag, inline] = arg.startsWith('--') && arg.includes('=') ? [arg.slice(0, arg.indexOf('=')), arg.slice(arg.indexOf('=') + 1)] : [arg, undefined];
    const value = () => {
      if (inline !== undefined) return inline;
      if (i + 1 >= argv.length) throw new Error(`${flag} needs a value`);
      return argv[++i];
    };
    if (flag === '--port') {
      options.port = Number(value());
      if (!Number.isInteger(options.port) || options.port < 0 || options.port > 65535) throw new Error('--port needs a number from 0 to 65535');
    } else if (flag === '--plugins') options.plugins = value();
    else if (flag === '--password') options.password = value();
    else if (flag === '--timeout') {
      options.timeoutMs = Number(value());
      if (!(options.timeoutMs > 0)) throw new Error('--timeout needs a positive number of milliseconds');
    } else if (flag === '--help' || flag === '-h') options.help = true;
    else throw new Error(`unknown option ${arg}`);
  }
  return options;
}

const USAGE = 'usage: node tools/serve.js [--port 8080] [--plugins DIR] [--password PW] [--timeout MS]';

if (require.main === module) {
  let options;
  try {
    options = parseArguments(process.argv.slice(2));
  } catch (error) {
    console.error(`serve.js: ${error.message}\n${USAGE}`);
    process.exit(2);
  }
  if (options.help) {
    console.log(USAGE);
    process.exit(0);
  }
  start(options).then(({ url, server }) => {
    console.log(`Bot stand-in listening on ${url} (plugins from ${path.resolve(options.plugins || path.join(__dirname, '..'))})`);
    const stop = () => server.close(() => process.exit(0));
    process.on('SIGINT', stop);
    process.on('SIGTERM', stop);
  }, (error) => {
    console.error(`serve.js: ${error.message}`);
    process.exit(1);
  });
}

module.exports = { start, createServer, parseCgiOutput, pluginEnvironment, listPlugins, escapeHtml, parseArguments };
