'use strict';
// The system calls of one run, as strace lists them, and what they show of an answer: the writes
// to standard output, the files opened once the program runs, and the memory a static program asks
// the kernel for, which it does only when it has a heap. The bench holds each build to one write,
// no file and no heap, as the checks hold the plugin.
const { spawnSync } = require('node:child_process');

// Runs `command` (an argument list) under strace in `env`; returns its calls after execve, each as
// strace writes it ("writev(1, [...], 11) = 7567").
function systemCalls(command, env) {
  const traced = spawnSync('strace', ['-qq', '-e', 'signal=none', ...command], { env, encoding: 'latin1', maxBuffer: 1 << 26 });
  if (traced.error) throw traced.error;
  const calls = traced.stderr.split('\n').filter((line) => /^\w+\(/.test(line));
  return calls.slice(calls.findIndex((line) => line.startsWith('execve(')) + 1);
}

// What the calls show of the answer. A dynamic program's loader opens and maps the C library
// before main: only what is opened after the last call naming libc.so counts, and its memory is
// the C library's to ask for.
function answerCalls(calls) {
  const dynamic = calls.some((line) => /libc\.so/.test(line));
  const afterLoader = calls.slice(calls.findLastIndex((line) => /libc\.so/.test(line)) + 1);
  return {
    writes: calls.filter((line) => /^writev?\(1,/.test(line)),
    opened: afterLoader.filter((line) => /^open/.test(line)),
    memory: dynamic ? [] : calls.filter((line) => /^(brk|mmap|mremap)\(/.test(line)),
  };
}

module.exports = { systemCalls, answerCalls };
