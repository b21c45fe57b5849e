'use strict';
// What kind of program a plugin file is, read from its first bytes as the system reads them to
// start it: a script and the interpreter its #! line names, or an ELF program, static or with the
// dynamic loader it names, for one machine. And why a file cannot be started, in words an author
// can act on, said once before any run.
const fs = require('node:fs');
const path = require('node:path');

const HEAD = 4096; // bytes read: a #! line, an ELF header and its program headers
const MACHINES = { 3: 'x86', 40: 'arm', 62: 'x86_64', 183: 'aarch64', 243: 'riscv' };
const PT_INTERP = 3;

// An ELF program's machine and dynamic loader (null when static), or null when `head` is no ELF.
function readElf(file, head) {
  if (head.length < 52 || head.toString('latin1', 0, 4) !== '\x7fELF') return null;
  const wide = head[4] === 2;
  if (wide && head.length < 64) return null;
  const little = head[5] === 1;
  const half = (at) => (little ? head.readUInt16LE(at) : head.readUInt16BE(at));
  const word = (buffer, at) => (little ? buffer.readUInt32LE(at) : buffer.readUInt32BE(at));
  const address = (buffer, at) => (wide ? Number(little ? buffer.readBigUInt64LE(at) : buffer.readBigUInt64BE(at)) : word(buffer, at));
  const machine = MACHINES[half(18)] || `machine ${half(18)}`;
  const [table, size, count] = wide ? [address(head, 32), half(54), half(56)] : [address(head, 28), half(42), half(44)];
  if (size * count === 0) return { machine, loader: null };
  const headers = Buffer.alloc(size * count);
  const descriptor = fs.openSync(file, 'r');
  try {
    const read = fs.readSync(descriptor, headers, 0, headers.length, table);
    for (let at = 0; at + size <= read; at += size) {
      if (word(headers, at) !== PT_INTERP) continue;
      const [offset, length] = wide ? [address(headers, at + 8), address(headers, at + 32)] : [word(headers, at + 4), word(headers, at + 16)];
      const loader = Buffer.alloc(length);
      if (length > 0) fs.readSync(descriptor, loader, 0, length, offset);
      return { machine, loader: loader.toString('latin1').replace(/\0.*$/s, '') };
    }
  } finally {
    fs.closeSync(descriptor);
  }
  return { machine, loader: null };
}

// { script: { line, interpreter, words } } for a file with a #! line, { elf: { machine, loader } }
// for an ELF program, { text: true } for a file of text without a #! line, or {} for anything else.
function programKind(file) {
  const head = Buffer.alloc(HEAD);
  const descriptor = fs.openSync(file, 'r');
  const length = fs.readSync(descriptor, head, 0, HEAD, 0);
  fs.closeSync(descriptor);
  const bytes = head.subarray(0, length);
  if (bytes.toString('latin1', 0, 2) === '#!') {
    const end = bytes.indexOf(0x0a);
    const line = bytes.toString('latin1', 2, end < 0 ? bytes.length : end);
    const [interpreter = '', ...words] = line.trim().split(/[ \t]+/);
    return { script: { line, interpreter, words } };
  }
  const elf = readElf(file, bytes);
  if (elf) return { elf };
  return bytes.length > 0 && !bytes.includes(0) ? { text: true } : {};
}

// The machine this checker runs on, as ELF names it.
const HERE = { x64: 'x86_64', arm64: 'aarch64', arm: 'arm', ia32: 'x86', riscv64: 'riscv' }[process.arch] || process.arch;

// Whether this system starts programs built for `machine`: its own, the 32-bit one of its kind,
// or one that binfmt_misc hands to an emulator (qemu-user).
function runsHere(machine) {
  if (machine === HERE || `${machine}:${HERE}` === 'x86:x86_64' || `${machine}:${HERE}` === 'arm:aarch64') return true;
  try {
    return fs.readdirSync('/proc/sys/fs/binfmt_misc').some((name) => name.includes(machine));
  } catch {
    return false;
  }
}

// Whether `name` is found on `searchPath` as an executable file.
const onPath = (name, searchPath) =>
  searchPath.split(':').some((directory) => {
    try {
      fs.accessSync(path.join(directory || '.', name), fs.constants.X_OK);
      return fs.statSync(path.join(directory || '.', name)).isFile();
    } catch {
      return false;
    }
  });

// Why the interpreter that a #! line names cannot run, or null.
function interpreterMissing({ line, interpreter, words }, searchPath) {
  if (line.endsWith('\r'))
    return `its #! line ends in a carriage return (the file has Windows line ends), so the system looks for an interpreter named "${interpreter}\\r": save it with Unix line ends (dos2unix)`;
  if (!interpreter) return 'its #! line names no interpreter';
  let stat = null;
  try {
    stat = fs.statSync(interpreter);
  } catch {
    return `its #! line names the interpreter ${interpreter}, which is not installed`;
  }
  if (!stat.isFile()) return `its #! line names ${interpreter}, which is not a program`;
  if (path.basename(interpreter) !== 'env') return null;
  const name = words.find((word) => !word.startsWith('-') && !word.includes('='));
  if (name && !name.includes('/') && !onPath(name, searchPath))
    return `its #! line runs ${name} through env, and there is no ${name} on the PATH the plugin gets (${searchPath})`;
  return null;
}

// Why `file` cannot be checked, or null: it is missing, not a file, not executable, built for a
// machine this system does not run, or names an interpreter or a dynamic loader that is not there. `searchPath` is the PATH the plugin gets.
function unfit(file, searchPath) {
  let stat;
  try {
    stat = fs.statSync(file);
  } catch {
    return `${file}: no such file`;
  }
  if (stat.isDirectory()) return `${file}: a directory, not a program`;
  if (!stat.isFile()) return `${file}: not a file`;
  try {
    fs.accessSync(file, fs.constants.X_OK);
  } catch {
    return `${file}: not executable (chmod +x ${file})`;
  }
  let kind;
  try {
    kind = programKind(file);
  } catch (error) {
    return `${file}: cannot be read (${error.message})`;
  }
  const why = kind.script ? interpreterMissing(kind.script, searchPath) : null;
  if (why) return `${file}: ${why}`;
  if (kind.text)
    return `${file}: a file of text without a #! line, which a host starting it as a program cannot run: make its first line name its interpreter (#!/bin/sh, #!/usr/bin/env python3)`;
  if (kind.elf && !runsHere(kind.elf.machine))
    return `${file}: a program for ${kind.elf.machine}, which this ${HERE} system does not start (no emulator for it in binfmt_misc): check it where it runs, or through a script that starts it under qemu-user`;
  if (kind.elf?.loader && !fs.existsSync(kind.elf.loader))
    return `${file}: a program for ${kind.elf.machine} linked against the dynamic loader ${kind.elf.loader}, which is not installed`;
  return null;
}

// Words for an error that starting a program gave.
function startError(error) {
  const why = {
    ENOENT: 'the system found nothing to run (an interpreter or a dynamic loader missing?)',
    EACCES: 'permission denied',
    ENOEXEC: `not a program this system starts (exec format error): one built for another machine than ${HERE}, or a script without a #! line`,
  }[error.code];
  return why ? `${why}; ${error.message}` : error.message;
}

module.exports = { programKind, unfit, startError, HERE };
