#!/usr/bin/env node
// A local stand-in for the bot server, enough to see and test plugin pages on this machine.
//
//   node tools/serve.js [--port 8080] [--plugins DIR] [--password PW] [--timeout MS] [--watch REPO]
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
//
// With --watch REPO it is the author's loop: it runs `make` in REPO at start and again after each
// save under REPO/src or to REPO/Makefile, and answers no request for the front page or a plugin
// until that build is done. While the source does not build, the front page shows the build's
// message and every plugin route answers 502 with it. The front page reloads itself after each
// build that changed something; a plugin page opened on its own route is left alone.
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
// Rebuilding on save (--watch). A save often comes as several writes (an editor's temporary file
// and rename, an editor saving every open file): the build starts once the sources have been quiet
// this long, so it never reads a half-written file.
const SETTLE_MS = 200;
const BUILD_COMMAND = ['make'];
// The first errors are the ones that matter; a cascade of template errors is cut here.
const MAX_BUILD_OUTPUT_BYTES = 256 * 1024;
// Kept from the build's environment: what would make a make started under `make serve` act as its
// sub-make (a jobserver it cannot reach, "Entering directory" lines, the command line's variables,
// the password among them), and the node password, which no compiler needs.
const NOT_FOR_BUILD = ['MAKEFLAGS', 'MFLAGS', 'MAKELEVEL', 'MAKEOVERRIDES', 'BOT_PASSWORD', 'PASSWORD'];
// The front page's line to the rebuilder: server-sent events carrying the build's generation.
const EVENTS_PATH = '/build-events';

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

/* ==== Rebuilding on save ==== */

// Whether a change under src/, named by its path in the repository, calls for a rebuild: any but
// what editors leave beside a file (dot files, "name~" backups, "#name#" autosaves) and build/ or
// node_modules/ folders. At the top only the Makefile is looked at (watchSources), so what a build
// leaves there (the executables, build/) never starts another build.
function isSourceChange(relative) {
  return relative.split(path.sep).every((part) => part !== 'build' && part !== 'node_modules' && !/^[.#]|~$/.test(part));
}

function isFolder(file) {
  const stat = fs.statSync(file, { throwIfNoEntry: false });
  return Boolean(stat && stat.isDirectory());
}

// Watches the repository's Makefile and every folder under its src/ (folders made later too) and
// calls onChange(path in the repository) for each change that isSourceChange accepts. The
// Makefile is watched through its folder, by name, so that a save that renames a new file over it
// is seen too. Returns { close }.
function watchSources(repo, onChange) {
  const watchers = new Map(); // folder -> fs.FSWatcher
  const unwatch = (folder) => {
    const watcher = watchers.get(folder);
    if (watcher) watcher.close();
    watchers.delete(folder);
  };
  const watchFolder = (folder) => {
    unwatch(folder); // a folder removed and made again needs a new watch
    let watcher;
    try {
      watcher = fs.watch(folder, (event, name) => {
        if (!name) return;
        const file = path.join(folder, String(name));
        const relative = path.relative(repo, file);
        if (!isSourceChange(relative)) return;
        if (isFolder(file) && !watchers.has(file)) watchFolder(file);
        onChange(relative);
      });
    } catch {
      return;
    }
    watcher.on('error', () => unwatch(folder));
    watchers.set(folder, watcher);
    let entries = [];
    try {
      entries = fs.readdirSync(folder, { withFileTypes: true });
    } catch {
      // gone again already: its watcher reports an error and is dropped
    }
    for (const entry of entries) {
      const inner = path.join(folder, entry.name);
      if (entry.isDirectory() && isSourceChange(path.relative(repo, inner))) watchFolder(inner);
    }
  };
  const source = path.join(repo, 'src');
  const top = fs.watch(repo, (event, name) => {
    if (name === 'Makefile') onChange('Makefile');
    else if (name === 'src' && isFolder(source) && !watchers.has(source)) {
      watchFolder(source);
      onChange('src');
    }
  });
  top.on('error', () => top.close());
  if (isFolder(source)) watchFolder(source);
  return {
    close() {
      top.close();
      for (const folder of [...watchers.keys()]) unwatch(folder);
    },
  };
}

// Runs the build command in the repository, its output collected (standard output and error as
// one text, in the order written, cut at MAX_BUILD_OUTPUT_BYTES). Resolves (never rejects) with
// { ok, output }, ok when it exits with status 0; stop() ends a build that runs.
function runBuild(repo, command) {
  const env = { ...process.env };
  for (const name of NOT_FOR_BUILD) delete env[name];
  let child = null;
  const done = new Promise((resolve) => {
    const chunks = [];
    let size = 0;
    let settled = false;
    const finish = (ok, note = '') => {
      if (settled) return;
      settled = true;
      const cut = size > MAX_BUILD_OUTPUT_BYTES ? `\n[cut at ${MAX_BUILD_OUTPUT_BYTES} bytes]\n` : '';
      resolve({ ok, output: Buffer.concat(chunks).toString('utf8') + cut + note });
    };
    const keep = (chunk) => {
      const room = MAX_BUILD_OUTPUT_BYTES - Math.min(size, MAX_BUILD_OUTPUT_BYTES);
      if (room > 0) chunks.push(chunk.subarray(0, room));
      size += chunk.length;
    };
    try {
      child = spawn(command[0], command.slice(1), { cwd: repo, env, stdio: ['ignore', 'pipe', 'pipe'] });
    } catch (error) {
      finish(false, `${command[0]} could not be started: ${error.message}\n`);
      return;
    }
    child.stdout.on('data', keep);
    child.stderr.on('data', keep);
    child.on('error', (error) => finish(false, `${command[0]} could not be started: ${error.message}\n`));
    child.on('close', (code, signal) => finish(code === 0, signal ? `${command.join(' ')} was ended by signal ${signal}\n` : ''));
  });
  return { done, stop: () => child && child.exitCode === null && child.kill('SIGTERM') };
}

// A fingerprint of the plugin executables in the folder: it changes when a build replaces one.
function executablesStamp(dir) {
  let names;
  try {
    names = fs.readdirSync(dir).filter((name) => PLUGIN_FILE.test(name)).sort();
  } catch {
    return '';
  }
  return names.map((name) => {
    const stat = fs.statSync(path.join(dir, name), { throwIfNoEntry: false });
    return stat ? `${name}:${stat.mtimeMs}:${stat.size}` : name;
  }).join('|');
}

// The author's loop for one repository: builds it at once and after each burst of saves, and keeps
// the last build's outcome as `state` ({ ok, output }) and `generation`, a token that changes when
// a build changes what is served (its outcome or message, or a plugin executable) and is then given
// to every subscriber. settled() resolves once no save waits for a build and no build runs; a save
// during a build schedules one more after it. log(line) is told of each build and its outcome.
function createRebuilder({ repo, plugins, command = BUILD_COMMAND, log = () => {} }) {
  const boot = Date.now().toString(36);
  let generations = 0;
  let stamp = executablesStamp(plugins);
  let timer = null;
  let build = null; // the build that runs, if one does
  let again = false;
  let closed = false;
  let changed = new Set();
  let waiting = [];
  const subscribers = new Set();

  const rebuilder = {
    repo,
    command,
    state: null,
    generation: `${boot}.0`,
    settled: () => (timer || build ? new Promise((resolve) => waiting.push(resolve)) : Promise.resolve()),
    subscribe(listener) {
      subscribers.add(listener);
      return () => subscribers.delete(listener);
    },
    close() {
      closed = true;
      clearTimeout(timer);
      timer = null;
      watcher.close();
      subscribers.clear();
      if (build) build.stop();
      return running;
    },
  };

  const settle = () => {
    if (timer || build) return;
    const resolved = waiting;
    waiting = [];
    for (const resolve of resolved) resolve();
  };

  async function buildUntilQuiet() {
    do {
      again = false;
      const files = [...changed];
      changed = new Set();
      const why = files.length === 0 ? 'start' : files.length === 1 ? `${files[0]} changed` : `${files[0]} and ${files.length - 1} more changed`;
      log(`build: ${why}, running ${command.join(' ')}`);
      const started = process.hrtime.bigint();
      build = runBuild(repo, command);
      const result = await build.done;
      build = null;
      if (closed) break;
      const seconds = (Number(process.hrtime.bigint() - started) / 1e9).toFixed(2);
      const nextStamp = executablesStamp(plugins);
      const before = rebuilder.state;
      const news = !before || before.ok !== result.ok || (!result.ok && before.output !== result.output) || nextStamp !== stamp;
      stamp = nextStamp;
      rebuilder.state = result;
      if (news) {
        rebuilder.generation = `${boot}.${++generations}`;
        for (const listener of subscribers) listener(rebuilder.generation);
      }
      if (result.ok) log(`build: ok in ${seconds}s${news ? '' : ', nothing new to show'}`);
      else log(`build: failed in ${seconds}s; the front page and every plugin route show this until it builds:\n${result.output.trimEnd()}`);
    } while (again && !closed);
    settle();
  }

  let running = Promise.resolve();
  const begin = () => {
    timer = null;
    if (closed) return;
    if (build) {
      again = true;
      return;
    }
    running = buildUntilQuiet();
  };
  const watcher = watchSources(repo, (relative) => {
    changed.add(relative);
    clearTimeout(timer);
    timer = setTimeout(begin, SETTLE_MS);
  });
  begin();
  return rebuilder;
}

// Sends the rebuilder's generation now and after every build that changes it, as server-sent
// events, for as long as the page stays open.
function streamGenerations(req, res, rebuilder) {
  res.writeHead(200, {
    'Content-Type': 'text/event-stream; charset=utf-8',
    'Cache-Control': 'no-store',
    'X-Content-Type-Options': 'nosniff',
  });
  if (req.method === 'HEAD') return res.end();
  const send = (generation) => res.write(`data: ${generation}\n\n`);
  send(rebuilder.generation);
  res.on('close', rebuilder.subscribe(send));
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
  var build=document.body.getAttribute('data-build');
  if(build&&window.EventSource){
    new EventSource('${EVENTS_PATH}').onmessage=function(e){if(e.data!==build)location.reload();};
  }
})();`;

const FRONT_STYLE = `body{margin:0;padding:16px;background:#0d0d10;color:#f5f5f7;font:14px/1.5 -apple-system,BlinkMacSystemFont,'Segoe UI',sans-serif}
main{max-width:920px;margin:0 auto}h1{font-size:20px;margin:0 0 12px}h2{font-size:16px;margin:0}
.box{background:#16161a;border:1px solid rgba(255,255,255,.11);border-radius:14px;padding:14px;margin-bottom:14px}
.muted{color:#8e8e96}a{color:#0a84ff}label{margin-right:10px}input{background:#1e1e24;color:inherit;border:1px solid rgba(255,255,255,.11);border-radius:8px;padding:5px 8px}
button{background:#0a84ff;color:#fff;border:0;border-radius:999px;padding:5px 14px;cursor:pointer}
iframe{width:100%;height:720px;border:1px solid rgba(255,255,255,.11);border-radius:10px;margin-top:10px;background:#0d0d10}
.failed{border-color:#ff453a}.failed h2{color:#ff453a}
pre.build{white-space:pre-wrap;overflow-wrap:anywhere;max-height:75vh;overflow:auto;margin:10px 0 0;padding:10px 12px;background:#1e1e24;border-radius:8px;font:12px/1.45 ui-monospace,SFMono-Regular,Menlo,Consolas,monospace}`;

// The front page. `build` is null unless the server rebuilds on save; then it is
// { ok, output, generation, repo, command }, and a failed build's message, escaped, takes the
// place of the plugins.
function frontPage(plugins, passwordRequired, build) {
  const sections = plugins.map((p) => {
    const hub = `/plugins?plugin=${encodeURIComponent(p.slug)}`;
    return `<section class='box' id='plugin-${escapeHtml(p.slug)}'><h2>${escapeHtml(p.name)}</h2>` +
      `<p class='muted'>${escapeHtml(p.desc || (p.metaOk ? '' : 'no meta record'))} &middot; ` +
      `<a href='/plugin_${escapeHtml(p.slug)}'>open page</a> &middot; <a href='${escapeHtml(hub)}'>through the hub</a></p>` +
      `<iframe title='${escapeHtml(p.name)}' data-src='${escapeHtml(`${hub}&embed=1`)}'></iframe></section>`;
  }).join('');
  const none = `<p class='box muted'>No executables named plugin_* in this folder.</p>`;
  let watching = '';
  let content = sections || none;
  if (build) {
    const command = escapeHtml(build.command.join(' '));
    watching = `<p class='muted'>Watching src/ and the Makefile in ${escapeHtml(build.repo)}: a save runs ` +
      `<code>${command}</code> there, and this page reloads when the build is done.</p>\n`;
    if (!build.ok) {
      content = `<section class='box failed' id='build-error'><h2>The build failed</h2>` +
        `<p class='muted'><code>${command}</code> ended with an error, so no plugin is served: every plugin route ` +
        `answers 502 with this message until a save builds again.</p><pre class='build'>${escapeHtml(build.output)}</pre></section>`;
    }
  }
  const buildMark = build ? ` data-build='${escapeHtml(build.generation)}'` : '';
  return `<!DOCTYPE html>
<html lang='en'><head><meta charset='utf-8'><meta name='viewport' content='width=device-width,initial-scale=1'>
<title>Bot (local)</title><style>${FRONT_STYLE}</style></head><body data-locked='${passwordRequired ? 1 : 0}'${buildMark}><main>
<h1>Bot (local stand-in)</h1>
${watching}<div class='box'><p class='muted'>Node password: ${passwordRequired ? 'required by this server' : 'not set on this server'}.
Store one here and the plugin pages send it with their requests.</p>
<label>Node <input id='node' type='text' autocomplete='off' placeholder='optional'></label>
<label>Password <input id='pwd' type='password' autocomplete='off'></label>
<button id='save' type='button'>Store</button> <button id='forget' type='button'>Forget</button>
<span id='note' class='muted'></span></div>
${content}
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

  // When rebuilding on save, the front page and the plugins are served from the latest sources:
  // a request waits for the build that a save has started or scheduled.
  const { rebuilder } = options;
  if (rebuilder && pathname === EVENTS_PATH) return streamGenerations(req, res, rebuilder);
  if (pathname === '/') {
    if (rebuilder) await rebuilder.settled();
    const build = rebuilder && { ...rebuilder.state, generation: rebuilder.generation, repo: rebuilder.repo, command: rebuilder.command };
    const plugins = build && !build.ok ? [] : await listPlugins(options.plugins, options.timeoutMs);
    const page = frontPage(plugins, Boolean(options.password), build);
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
  if (rebuilder && SLUG.test(slug)) {
    await rebuilder.settled();
    const { ok, output } = rebuilder.state;
    if (!ok) return badGateway(res, `the build failed, so no plugin is served until it builds again.\n\n${output}`, 'the build failed');
  }
  const file = pluginPath(options.plugins, slug);
  if (!file) return sendText(res, 404, 'No such plugin.');
  return servePlugin(req, res, file, rawQuery, options);
}

// Creates the server without listening. Options: plugins (folder), password, timeoutMs, log
// (a function given one line per request and build; console.log by default, null for silence),
// watch (a repository folder to rebuild on save, with buildCommand, ['make'] by default). With
// watch, the build starts at once; the server's `rebuilder` is closed with it.
function createServer(options = {}) {
  const settings = {
    plugins: path.resolve(options.plugins || path.join(__dirname, '..')),
    password: options.password || '',
    timeoutMs: options.timeoutMs || DEFAULT_TIMEOUT_MS,
    log: options.log === undefined ? (line) => console.log(line) : options.log,
    rebuilder: null,
  };
  const server = http.createServer((req, res) => {
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
  if (options.watch) {
    settings.rebuilder = createRebuilder({
      repo: path.resolve(options.watch),
      plugins: settings.plugins,
      command: options.buildCommand || BUILD_COMMAND,
      log: (line) => settings.log && settings.log(line),
    });
    server.on('close', () => settings.rebuilder.close());
  }
  server.rebuilder = settings.rebuilder;
  return server;
}

// Starts listening on 127.0.0.1 (port 0 picks a free one). Resolves with { server, port, url, close }.
function start(options = {}) {
  let server;
  try {
    server = createServer(options);
  } catch (error) {
    return Promise.reject(error);
  }
  const port = options.port === undefined ? DEFAULT_PORT : options.port;
  return new Promise((resolve, reject) => {
    server.once('error', (error) => {
      if (server.rebuilder) server.rebuilder.close();
      reject(error);
    });
    server.listen(port, '127.0.0.1', () => {
      server.off('error', reject);
      const actual = server.address().port;
      resolve({
        server,
        port: actual,
        url: `http://127.0.0.1:${actual}/`,
        // Ends open connections (a front page's event stream among them) and any build that runs.
        close: () => new Promise((done) => {
          server.close(() => (server.rebuilder ? server.rebuilder.close() : Promise.resolve()).then(() => done()));
          server.closeAllConnections();
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
    else if (flag === '--watch') options.watch = value();
    else if (flag === '--timeout') {
      options.timeoutMs = Number(value());
      if (!(options.timeoutMs > 0)) throw new Error('--timeout needs a positive number of milliseconds');
    } else if (flag === '--help' || flag === '-h') options.help = true;
    else throw new Error(`unknown option ${arg}`);
  }
  return options;
}

const USAGE = 'usage: node tools/serve.js [--port 8080] [--plugins DIR] [--password PW] [--timeout MS] [--watch REPO]';

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
  start(options).then(({ url, close }) => {
    console.log(`Bot stand-in listening on ${url} (plugins from ${path.resolve(options.plugins || path.join(__dirname, '..'))})`);
    const stop = () => close().then(() => process.exit(0));
    process.on('SIGINT', stop);
    process.on('SIGTERM', stop);
  }, (error) => {
    console.error(`serve.js: ${error.message}`);
    process.exit(1);
  });
}

module.exports = { start, createServer, parseCgiOutput, pluginEnvironment, listPlugins, escapeHtml, parseArguments };
