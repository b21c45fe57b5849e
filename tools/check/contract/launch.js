'use strict';
// Starts one process the way a host starts a plugin and waits for it: within a time limit, after
// which the process and anything it started are killed (it runs in a process group of its own, so
// a shell script's children go too), and the run is reported as timed out, never left behind.
const { spawn } = require('node:child_process');
const { asleep, canSee } = require('./waiting');

const MOST_KEPT = 16 * 1024 * 1024;
const running = new Set(); // process groups still alive, killed if the checker itself is stopped

function killGroup(child) {
  try {
    process.kill(-child.pid, 'SIGKILL');
  } catch {
    // Already gone.
  }
}

for (const signal of ['SIGINT', 'SIGTERM', 'SIGHUP'])
  process.on(signal, () => {
    running.forEach(killGroup);
    process.exit(130);
  });

// Resolves to { code, signal, timedOut, ms, stdout, stderr, error }: stdout is a Buffer when
// stdio[1] is 'pipe', else null; error is set when the process could not be started. `started` is
// called with the child once it runs (to close descriptors that only the child should hold).
function launch(command, args, { env, stdio, limitMs, started = () => {} }) {
  return new Promise((resolve) => {
    const begin = process.hrtime.bigint();
    let child;
    try {
      child = spawn(command, args, { env, stdio, detached: true });
    } catch (error) {
      resolve({ error, code: null, signal: null, timedOut: false, ms: 0, stdout: null, stderr: Buffer.alloc(0) });
      return;
    }
    const out = [];
    const err = [];
    let timedOut = false;
    let exit = { code: null, signal: null };
    let failure = null;
    let kept = 0;
    // An answer that never ends is read to the limit, but only its first MOST_KEPT bytes kept.
    if (child.stdout)
      child.stdout.on('data', (chunk) => {
        if (kept < MOST_KEPT) out.push(chunk.subarray(0, MOST_KEPT - kept));
        kept += chunk.length;
      });
    if (child.stderr) child.stderr.on('data', (chunk) => err.push(chunk));
    running.add(child);
    started(child);
    const timer = setTimeout(() => {
      timedOut = true;
      killGroup(child);
    }, limitMs);
    const ms = () => Number(process.hrtime.bigint() - begin) / 1e6;
    let exitedAt = 0;
    child.on('error', (error) => (failure = error));
    child.on('exit', (code, signal) => {
      exit = { code, signal };
      exitedAt = ms();
      running.delete(child);
    });
    // 'close' comes when the process has exited and its pipes are shut; a child it left behind
    // holding them open is killed with the group at the limit.
    child.on('close', () => {
      clearTimeout(timer);
      running.delete(child);
      if (!timedOut) killGroup(child);
      resolve({
        ...exit,
        error: failure,
        timedOut,
        ms: exitedAt || ms(),
        stdout: child.stdout ? Buffer.concat(out) : null,
        stderr: Buffer.concat(err),
      });
    });
  });
}

// How many of the processes started here are awake: all of them where /proc does not show it.
const awake = () => (canSee ? [...running].filter((child) => !asleep(child.pid)).length : running.size);

// The environment a host gives a plugin: the request's variables, and a PATH by which a script's
// interpreter is found.
const hostEnvironment = (request) => ({ PATH: process.env.PATH || '/usr/local/bin:/usr/bin:/bin', ...request });

module.exports = { launch, hostEnvironment, awake };
