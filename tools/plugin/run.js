'use strict';
// Running a plugin as a host runs it: the environment a host gives it, and a run held to a time
// limit, after which the process and anything it started are killed (it runs in a process group
// of its own, so a shell script's children go too), and the run is reported as timed out, never
// left behind. A run ends when its output closes, as a host's read does; a process the plugin left
// holding the output keeps the run going until the limit, where it is killed with the group, or,
// had it left the group (setsid), is no longer waited for. The stand-in host of make serve, the
// contract checker, the bench and the checks all run a plugin here.
const { spawn, spawnSync } = require('node:child_process');
const { asleep, canSee } = require('./waiting');

const GRACE_MS = 200; // after the group is killed at the limit: time for the output to close
const running = new Set(); // process groups still alive

function killGroup(child) {
  try {
    process.kill(-child.pid, 'SIGKILL');
  } catch {
    // Already gone.
  }
}

// Kills every plugin started here that still runs, with its group: for a command that is stopped.
const stopAll = () => running.forEach(killGroup);

// The environment a host gives a plugin: the request's variables, and a PATH by which a script's
// interpreter is found, the host's own.
const hostEnvironment = (request) => ({ PATH: process.env.PATH || '/usr/local/bin:/usr/bin:/bin', ...request });

// Collects an answer whole, for a run that does not ask for more.
function collectAll() {
  const chunks = [];
  return { push: (chunk) => chunks.push(chunk), end: () => ({ bytes: Buffer.concat(chunks), length: chunks.reduce((sum, chunk) => sum + chunk.length, 0) }) };
}

// Starts `command` as a host starts a plugin, in `env` (hostEnvironment gives it) and `cwd`.
// Resolves to { code, signal, ms, stdout, output, stderr, error, timedOut, limit, left, tooLong }:
// output is the answer as `collect()` ({ push(chunk), end() }) gathered it when stdio[1] is 'pipe',
// and stdout its bytes, else both null; error is set when the process could not be started. At the
// time limit, `limit` says what was still going: 'running', the plugin itself, or 'held', the
// output of a plugin that had exited (code, signal and ms are then its own), held open by a
// process it left; `left` says that process had left the plugin's process group and still held
// the output after the group was killed. With `mostBytes`, an answer longer than that is stopped
// there, its group killed, and `tooLong` set. `started` is called with the child once it runs (to
// close descriptors that only the child should hold), `ended` once the plugin's own process ended.
function launch(command, args, { env, cwd, stdio, limitMs, mostBytes = Infinity, collect = collectAll, started = () => {}, ended = () => {} }) {
  return new Promise((resolve) => {
    const begin = process.hrtime.bigint();
    const ms = () => Number(process.hrtime.bigint() - begin) / 1e6;
    let child;
    try {
      child = spawn(command, args, { env, cwd, stdio, detached: true });
    } catch (error) {
      ended();
      resolve({ error, code: null, signal: null, timedOut: false, ms: 0, stdout: null, output: null, stderr: Buffer.alloc(0) });
      return;
    }
    const out = child.stdout ? collect() : null;
    const err = [];
    let written = 0;
    let tooLong = false;
    if (child.stdout)
      child.stdout.on('data', (chunk) => {
        written += chunk.length;
        if (tooLong) return;
        tooLong = written > mostBytes;
        if (tooLong) killGroup(child);
        out.push(tooLong ? chunk.subarray(0, chunk.length - (written - mostBytes)) : chunk);
      });
    if (child.stderr) child.stderr.on('data', (chunk) => err.push(chunk));
    running.add(child);
    started(child);
    let exit = null;
    let failure = null;
    let limit = null;
    let left = false;
    let grace = null;
    let done = false;
    const exited = (code, signal) => {
      if (exit) return;
      exit = { code, signal, ms: ms() };
      running.delete(child);
      ended();
    };
    const finish = () => {
      if (done) return;
      done = true;
      clearTimeout(timer);
      clearTimeout(grace);
      exited(null, null);
      // Whatever the plugin left in its group, holding nothing the host reads, goes with it.
      if (!limit) killGroup(child);
      const output = out ? out.end() : null;
      resolve({
        ...exit,
        error: failure,
        timedOut: limit !== null,
        limit,
        left,
        tooLong,
        stdout: output ? output.bytes : null,
        output,
        stderr: Buffer.concat(err),
      });
    };
    const timer = setTimeout(() => {
      limit = exit ? 'held' : 'running';
      killGroup(child);
      grace = setTimeout(() => {
        left = true;
        child.stdout?.destroy();
        child.stderr?.destroy();
        finish();
      }, GRACE_MS);
    }, limitMs);
    child.on('error', (error) => (failure = error));
    child.on('exit', exited);
    // 'close' comes when the process has exited and its pipes are shut.
    child.on('close', finish);
  });
}

// How many of the processes started here are awake: all of them where /proc does not show it.
const awake = () => (canSee ? [...running].filter((child) => !asleep(child.pid)).length : running.size);

// Runs `commandLine` (a program, or a launcher and its arguments, then the program) once with
// `args` in `env` and waits for it, up to `limitMs`: for the checks and the bench, which ask one
// question at a time. Returns spawnSync's result.
function runOnce(commandLine, args, env, limitMs = 20000) {
  const [command, ...launcherArgs] = commandLine;
  return spawnSync(command, [...launcherArgs, ...args], { env, timeout: limitMs, killSignal: 'SIGKILL', maxBuffer: 1 << 28 });
}

module.exports = { hostEnvironment, launch, runOnce, awake, stopAll, GRACE_MS };
