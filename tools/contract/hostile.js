'use strict';
// Hostile hosts: ways a real host may hand a plugin its standard output that a plain pipe does
// not show. Each resolves to the run's exit and, where a reader stays, `received`: the answer that
// reached it (collected, answer.js), and `plain`: the same request read by a plain pipe right
// after, so that an answer that changes from run to run is held against one of its own time.
//
// The pipes are FIFOs made in the run's directory and filled to the brim before the plugin
// starts, so that its very first write meets a full pipe, whatever the size of its answer or of
// the system's pipes; the reader comes once the plugin has come to wait (waiting.js). Node.js
// clears O_NONBLOCK on the descriptors 0-2 it hands a child, so a non-blocking one goes to the
// child as descriptor 3 and sh moves it to 1: dup2 keeps the flag.
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const net = require('node:net');
const path = require('node:path');
const { launch, hostEnvironment, GRACE_MS } = require('../plugin/run');
const { runDirect } = require('./direct');
const { collector } = require('./answer');
const { waiting } = require('../plugin/waiting');

const { O_RDONLY, O_WRONLY, O_NONBLOCK } = fs.constants;
const PAUSE_MS = 10; // a slow reader's pause after each read
const PAGE = 4096;

let fifos = 0;
function makeFifo(directory) {
  const file = path.join(directory, `fifo-${++fifos}`);
  const made = spawnSync('mkfifo', [file], { encoding: 'utf8' });
  if (made.status !== 0) throw new Error(`mkfifo ${file} failed: ${made.stderr || made.error}`);
  return file;
}

// Writes into the non-blocking `fd` until the pipe takes no more; returns the bytes written.
function fill(fd) {
  let written = 0;
  for (const size of [65536, 1]) {
    const chunk = Buffer.alloc(size, 0x2e);
    for (;;) {
      try {
        written += fs.writeSync(fd, chunk);
      } catch (error) {
        if (error.code === 'EAGAIN') break;
        throw error;
      }
    }
  }
  return written;
}

// A full FIFO: { file, reader (non-blocking), writer (non-blocking), filled }.
function fullPipe(directory) {
  const file = makeFifo(directory);
  const reader = fs.openSync(file, O_RDONLY | O_NONBLOCK);
  const writer = fs.openSync(file, O_WRONLY | O_NONBLOCK);
  return { file, reader, writer, filled: fill(writer) };
}

// Reads everything from `fd` once `when` has resolved, pausing `pauseMs` after each chunk, until
// the end of the answer, `stop()`, or `deadline` (a time in ms); `received` resolves to the answer
// after its first `skip` bytes, collected, with `held` set when it did not end.
function readLate(fd, { when, pauseMs = 0, skip, deadline }) {
  const collecting = collector();
  let socket = null;
  let finish;
  const received = new Promise((resolve) => (finish = resolve));
  let done = false;
  const end = (held) => {
    if (done) return;
    done = true;
    clearTimeout(timer);
    if (socket) socket.destroy();
    else fs.closeSync(fd);
    finish({ ...collecting.end(), held });
  };
  const timer = setTimeout(() => end(true), Math.max(0, deadline - Date.now()));
  when.then(() => {
    if (done) return;
    socket = new net.Socket({ fd, readable: true, writable: false });
    let skipped = 0;
    socket.on('data', (chunk) => {
      const filler = Math.min(chunk.length, skip - skipped);
      skipped += filler;
      if (filler < chunk.length) collecting.push(chunk.subarray(filler));
      if (pauseMs) {
        socket.pause();
        setTimeout(() => socket.resume(), pauseMs);
      }
    });
    socket.on('error', () => {});
    socket.on('close', () => end(false));
  });
  return { received, stop: () => end(true) };
}

const closeAll = (...fds) => fds.forEach((fd) => fd !== undefined && fs.closeSync(fd));

// Runs the plugin with descriptor `fd` as its standard output, moved there from 3 by sh.
// Resolves to { exited: launch()'s promise, waits: a promise of the plugin coming to wait }.
function viaDescriptor3(plugin, run, fd, { limitMs, ended }) {
  let child;
  const exited = launch('sh', ['-c', 'exec "$@" >&3 3>&-', 'sh', plugin, ...run.args], {
    env: hostEnvironment(run.env),
    stdio: ['ignore', 'ignore', 'pipe', fd],
    limitMs,
    ended,
    started: (started) => (child = started),
  });
  return { exited, waits: child ? waiting(child, exited) : exited };
}

const HOSTS = {
  async closed(plugin, run, { limitMs, ended }) {
    return launch('sh', ['-c', 'exec "$@" >&-', 'sh', plugin, ...run.args], {
      env: hostEnvironment(run.env),
      stdio: ['ignore', 'ignore', 'pipe'],
      limitMs,
      ended,
    });
  },

  async full(plugin, run, { limitMs, ended }) {
    const device = fs.openSync('/dev/full', O_WRONLY);
    try {
      return await launch(plugin, run.args, { env: hostEnvironment(run.env), stdio: ['ignore', device, 'pipe'], limitMs, ended });
    } finally {
      fs.closeSync(device);
    }
  },

  async gone(plugin, run, options) {
    const pipe = fullPipe(options.directory);
    fs.closeSync(pipe.reader);
    try {
      return await viaDescriptor3(plugin, run, pipe.writer, options).exited;
    } finally {
      fs.closeSync(pipe.writer);
    }
  },

  async leaves(plugin, run, options) {
    const pipe = fullPipe(options.directory);
    const blocking = fs.openSync(pipe.file, O_WRONLY);
    closeAll(pipe.writer);
    const { exited, waits } = viaDescriptor3(plugin, run, blocking, options);
    fs.closeSync(blocking);
    await waits;
    fs.closeSync(pipe.reader);
    return exited;
  },

  nonblocking: (plugin, run, options) => late(plugin, run, options, { room: 0, blocking: false }),
  'nonblocking-room': (plugin, run, options) => late(plugin, run, options, { room: PAGE, blocking: false }),
  slow: (plugin, run, options) => late(plugin, run, options, { room: 0, blocking: true, pauseMs: PAUSE_MS }),
};

// A reader that comes once the plugin waits, to a pipe with `room` bytes free. The plugin's own
// end closes the pipe unless a process it left holds it: then the reading stops at the limit.
async function late(plugin, run, options, { room, blocking, pauseMs = 0 }) {
  const pipe = fullPipe(options.directory);
  let drained = 0;
  if (room > 0) drained = fs.readSync(pipe.reader, Buffer.alloc(room), 0, room, null);
  let output = pipe.writer;
  if (blocking) {
    output = fs.openSync(pipe.file, O_WRONLY);
    fs.closeSync(pipe.writer);
  }
  const deadline = Date.now() + options.limitMs + GRACE_MS;
  const { exited, waits } = viaDescriptor3(plugin, run, output, options);
  fs.closeSync(output);
  const reading = readLate(pipe.reader, { when: waits, pauseMs, skip: pipe.filled - drained, deadline });
  let result = await exited;
  if (result.timedOut) reading.stop();
  const received = await reading.received;
  if (received.held && !result.timedOut) result = { ...result, timedOut: true, limit: 'held' };
  const plain = await runDirect(plugin, run, { directory: options.directory, limitMs: options.limitMs });
  return { ...result, received, plain: plain.timedOut ? null : plain.output };
}

// Runs `run` under its hostile host.
function runHostile(plugin, run, options) {
  return HOSTS[run.host](plugin, run, options);
}

module.exports = { runHostile };
