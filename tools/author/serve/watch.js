// The author's loop (--watch): watching a repository's sources and rebuilding it after each save.
'use strict';

const fs = require('node:fs');
const path = require('node:path');
const { spawn } = require('node:child_process');
const { executablesStamp } = require('./plugins.js');

// A save often comes as several writes (an editor's temporary file and rename, an editor saving
// every open file): the build starts once the sources have been quiet this long, so it never
// reads a half-written file.
const SETTLE_MS = 200;
const BUILD_COMMAND = ['make'];
// The first errors are the ones that matter; a cascade of template errors is cut here.
const MAX_BUILD_OUTPUT_BYTES = 256 * 1024;
// Kept from the build's environment: what would make a make started under `make serve` act as its
// sub-make (a jobserver it cannot reach, "Entering directory" lines, the command line's variables,
// the password among them), and the node password, which no compiler needs.
const NOT_FOR_BUILD = ['MAKEFLAGS', 'MFLAGS', 'MAKELEVEL', 'MAKEOVERRIDES', 'BOT_PASSWORD', 'PASSWORD'];

/* ==== Watching ==== */

// Whether a change under src/ or platform/, named by its path in the repository, calls for a
// rebuild: any but what editors leave beside a file (dot files, "name~" backups, "#name#"
// autosaves) and build/ or node_modules/ folders. At the top only the Makefile is looked at (watchSources), so what a build
// leaves there (the executables, build/) never starts another build.
function isSourceChange(relative) {
  return relative.split(path.sep).every((part) => part !== 'build' && part !== 'node_modules' && !/^[.#]|~$/.test(part));
}

function isFolder(file) {
  const stat = fs.statSync(file, { throwIfNoEntry: false });
  return Boolean(stat && stat.isDirectory());
}

// Watches the repository's Makefile and every folder under its src/ and platform/ (folders made
// later too) and
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
  const SOURCES = ['src', 'platform'];
  const top = fs.watch(repo, (event, name) => {
    const folder = path.join(repo, String(name));
    if (name === 'Makefile') onChange('Makefile');
    else if (SOURCES.includes(String(name)) && isFolder(folder) && !watchers.has(folder)) {
      watchFolder(folder);
      onChange(String(name));
    }
  });
  top.on('error', () => top.close());
  for (const name of SOURCES) if (isFolder(path.join(repo, name))) watchFolder(path.join(repo, name));
  return {
    close() {
      top.close();
      for (const folder of [...watchers.keys()]) unwatch(folder);
    },
  };
}

/* ==== Rebuilding ==== */

// Starts file with args, no standard input, and collects its standard output and error as one
// text, in the order written, keeping the first `limit` bytes. Returns { done, stop(signal) }:
// done resolves (never rejects) with { output, size (bytes written in all), code, signal, error }.
function spawnCollected(file, args, { cwd, env, limit }) {
  let child = null;
  const done = new Promise((resolve) => {
    const chunks = [];
    let size = 0;
    let settled = false;
    const finish = (code, signal, error = null) => {
      if (settled) return;
      settled = true;
      resolve({ output: Buffer.concat(chunks), size, code, signal, error });
    };
    const keep = (chunk) => {
      const room = Math.max(0, limit - size);
      if (room > 0) chunks.push(chunk.subarray(0, room));
      size += chunk.length;
    };
    try {
      child = spawn(file, args, { cwd, env, stdio: ['ignore', 'pipe', 'pipe'] });
    } catch (error) {
      finish(null, null, error);
      return;
    }
    child.stdout.on('data', keep);
    child.stderr.on('data', keep);
    child.on('error', (error) => finish(null, null, error));
    child.on('close', (code, signal) => finish(code, signal));
  });
  const stop = (signal) => child && child.exitCode === null && child.signalCode === null && child.kill(signal);
  return { done, stop };
}

// Runs the build command in the repository, its output collected (standard output and error as
// one text, in the order written, cut at MAX_BUILD_OUTPUT_BYTES). Returns { done, stop }: done
// resolves (never rejects) with { ok, output }, ok when it exits with status 0; stop() ends a
// build that runs.
function runBuild(repo, command) {
  const env = { ...process.env };
  for (const name of NOT_FOR_BUILD) delete env[name];
  const run = spawnCollected(command[0], command.slice(1), { cwd: repo, env, limit: MAX_BUILD_OUTPUT_BYTES });
  const done = run.done.then(({ output, size, code, signal, error }) => {
    let note = size > MAX_BUILD_OUTPUT_BYTES ? `\n[cut at ${MAX_BUILD_OUTPUT_BYTES} bytes]\n` : '';
    if (error) note += `${command[0]} could not be started: ${error.message}\n`;
    else if (signal) note += `${command.join(' ')} was ended by signal ${signal}\n`;
    return { ok: !error && code === 0, output: output.toString('utf8') + note };
  });
  return { done, stop: () => run.stop('SIGTERM') };
}

// The author's loop for one repository: builds it at once and after each burst of saves, and keeps
// the last build's outcome as `state` ({ ok, output }) and `generation`, a token that changes when
// a build changes what is served (its outcome or message, or a plugin executable in the folder
// `plugins`) and is then given to every subscriber. settled() resolves once no save waits for a
// build and no build runs; a save during a build schedules one more after it. log(line) is told of
// each build and its outcome. close() stops watching and ends a build that runs; it resolves when
// that build is over.
function createRebuilder({ repo, plugins, command = BUILD_COMMAND, log }) {
  const boot = Date.now().toString(36);
  let generations = 0;
  let stamp = executablesStamp(plugins);
  let timer = null;
  let build = null; // the build that runs, if one does
  let again = false;
  let closed = false;
  let changed = new Set();
  let waiting = [];
  let running = Promise.resolve();
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

module.exports = { createRebuilder };
