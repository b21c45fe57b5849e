'use strict';
// Hostile hosts: ways a real host may hand a plugin its standard output that a plain pipe does
// not show. Each resolves to the run's exit and, where a reader stays, `received`: the bytes of
// the answer that reached it.
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
const { launch, hostEnvironment } = require('./launch');
const { waiting } = require('./waiting');

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

// Reads everything from `fd` once `when` has resolved, pausing `pauseMs` after each chunk;
// resolves to the bytes read after the first `skip`.
function readLate(fd, { when, pauseMs = 0, skip }) {
  return new Promise((resolve) => {
    when.then(() => {
      const socket = new net.Socket({ fd, readable: true, writable: false });
      const chunks = [];
      socket.on('data', (chunk) => {
        chunks.push(chunk);
        if (pauseMs) {
          socket.pause();
          setTimeout(() => socket.resume(), pauseMs);
        }
      });
      socket.on('error', () => {});
      socket.on('close', () => resolve(Buffer.concat(chunks).subarray(skip)));
    });
  });
}

const closeAll = (...fds) => fds.forEach((fd) => fd !== undefined && fs.closeSync(fd));

// Runs the plugin with descriptor `fd` as its standard output, moved there from 3 by sh.
// Resolves to { exited: launch()'s promise, waits: a promise of the plugin coming to wait }.
function viaDescriptor3(plugin, run, fd, limitMs) {
  let child;
  const exited = launch('sh', ['-c', 'exec "$@" >&3 3>&-', 'sh', plugin, ...run.args], {
    env: hostEnvironment(run.env),
    stdio: ['ignore', 'ignore', 'pipe', fd],
    limitMs,
    started: (started) => (child = started),
  });
  return { exited, waits: child ? waiting(child, exited) : exited };
}

const HOSTS = {
  async closed(plugin, run, { limitMs }) {
    return launch('sh', ['-c', 'exec "$@" >&-', 'sh', plugin, ...run.args], {
      env: hostEnvironment(run.env),
      stdio: ['ignore', 'ignore', 'pipe'],
      limitMs,
    });
  },

  async full(plugin, run, { limitMs }) {
    const device = fs.openSync('/dev/full', O_WRONLY);
    try {
      return await launch(plugin, run.args, { env: hostEnvironment(run.env), stdio: ['ignore', device, 'pipe'], limitMs });
    } finally {
      fs.closeSync(device);
    }
  },

  async gone(plugin, run, { directory, limitMs }) {
    const pipe = fullPipe(directory);
    fs.closeSync(pipe.reader);
    try {
      return await viaDescriptor3(plugin, run, pipe.writer, limitMs).exited;
    } finally {
      fs.closeSync(pipe.writer);
    }
  },

  async leaves(plugin, run, { directory, limitMs }) {
    const pipe = fullPipe(directory);
    const blocking = fs.openSync(pipe.file, O_WRONLY);
    closeAll(pipe.writer);
    const { exited, waits } = viaDescriptor3(plugin, run, blocking, limitMs);
    fs.closeSync(blocking);
    await waits;
    fs.closeSync(pipe.reader);
    return exited;
  },

  nonblocking: (plugin, run, options) => late(plugin, run, options, { room: 0, blocking: false }),
  'nonblocking-room': (plugin, run, options) => late(plugin, run, options, { room: PAGE, blocking: false }),
  slow: (plugin, run, options) => late(plugin, run, options, { room: 0, blocking: true, pauseMs: PAUSE_MS }),
};

// A reader that comes once the plugin waits, to a pipe with `room` bytes free.
async function late(plugin, run, { directory, limitMs }, { room, blocking, pauseMs = 0 }) {
  const pipe = fullPipe(directory);
  let drained = 0;
  if (room > 0) drained = fs.readSync(pipe.reader, Buffer.alloc(room), 0, room, null);
  let output = pipe.writer;
  if (blocking) {
    output = fs.openSync(pipe.file, O_WRONLY);
    fs.closeSync(pipe.writer);
  }
  const { exited, waits } = viaDescriptor3(plugin, run, output, limitMs);
  fs.closeSync(output);
  const received = readLate(pipe.reader, { when: waits, pauseMs, skip: pipe.filled - drained });
  const result = await exited;
  // A reader still waiting for an end of file at the limit is cut off with the plugin.
  return { ...result, received: await received };
}

// Runs `run` under its hostile host.
function runHostile(plugin, run, options) {
  return HOSTS[run.host](plugin, run, options);
}

module.exports = { runHostile };
