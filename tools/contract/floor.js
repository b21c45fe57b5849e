'use strict';
// The floor a plugin's time is measured against (tools/plugin/floor.js builds it): the plainest
// program of the plugin's own kind that writes the same bytes. For a compiled plugin, a C program
// with the answer compiled in, one write and exit, linked as the plugin is: static (musl-gcc
// -static where it is installed), or with the same C library's dynamic loader (musl-gcc for a musl
// program, the C compiler's default link for any other), so that a dynamic program is not weighed
// against a static one's start. For a script, its interpreter started by the same #! line on a
// script that does nothing more. The timer starts floor and plugin in turn, as a host does,
// reading each answer through a pipe to its end, so that what is timed is the process and not the
// checker's own start-up of it.
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { hostEnvironment } = require('../plugin/run');
const { median, buildFloor, buildTimer, timeSideBySide } = require('../plugin/floor');
const { programKind, HERE } = require('./program');

const ROUNDS = 200;
const BUDGET_MS = 1000;

const has = (command) => spawnSync('sh', ['-c', 'command -v "$1"', 'sh', command], { stdio: 'ignore' }).status === 0;
const compiler = () => ['cc', 'gcc', 'clang'].find(has);

// The floor of `plugin`'s kind: { build: the compiler's argv, or script: its #! line, what } or
// { none: why there is none here }.
function floorFor(plugin) {
  const { script, elf } = programKind(plugin);
  if (script) return { script: script.line, what: `its interpreter on an empty script (#!${script.line.trim()})` };
  if (!elf) return { none: 'the plugin is neither a script nor an ELF program: no floor of its kind' };
  if (elf.machine !== HERE) return { none: `the plugin is a program for ${elf.machine}, this machine runs ${HERE}: no floor of its kind is built here` };
  const musl = has('musl-gcc');
  const cc = compiler();
  if (!elf.loader) {
    const build = musl ? ['musl-gcc', '-O2', '-static', '-s'] : cc && [cc, '-O2', '-static', '-s'];
    return build ? { build, what: `a static C program (${build.join(' ')})` } : { none: 'no C compiler (musl-gcc, cc, gcc or clang) to build the floor with' };
  }
  if (/musl/.test(elf.loader))
    return musl ? { build: ['musl-gcc', '-O2', '-s'], what: 'a C program linked with musl\'s dynamic loader (musl-gcc -O2 -s)' } : { none: 'the plugin is linked with musl\'s dynamic loader, and musl-gcc is not installed to build a floor like it' };
  return cc ? { build: [cc, '-O2', '-s'], what: `a dynamically linked C program (${cc} -O2 -s)` } : { none: 'no C compiler (cc, gcc or clang) to build the floor with' };
}

// The compiler the timer is built with, or null.
const timerCompiler = () => (has('musl-gcc') ? ['musl-gcc', '-O2', '-static'] : compiler() ? [compiler(), '-O2'] : null);

// Times `plugin` on `run` against a floor of its kind writing `bytes` (which a longer answer's are
// the first of: the floor writes them over again to its length); `name` names the floor's files.
// Returns { pluginMs, floorMs, ratio, rounds, failed, bytes, floor } (medians), or throws.
function measure(plugin, run, output, { directory, name }) {
  const kind = floorFor(plugin);
  if (kind.none) throw new Error(kind.none);
  const tools = timerCompiler();
  if (!tools) throw new Error('no C compiler (musl-gcc, cc, gcc or clang) to build the timer with');
  const timer = buildTimer(tools, directory);
  let floor;
  if (kind.script !== undefined) {
    floor = path.join(directory, `floor-${name}`);
    fs.writeFileSync(floor, `#!${kind.script}\n`, { mode: 0o755 });
  } else {
    const { bytes, length } = output;
    floor = buildFloor(kind.build, directory, name, length > bytes.length ? Buffer.alloc(length, bytes) : bytes);
  }
  const [floorTimes, pluginTimes] = timeSideBySide(timer, [[floor], [plugin, ...run.args]], { rounds: ROUNDS, budgetMs: BUDGET_MS, env: hostEnvironment(run.env) });
  const good = floorTimes.map((f, i) => [f, pluginTimes[i]]).filter(([f, p]) => f > 0 && p > 0);
  if (good.length === 0) throw new Error(`no timed run ended with exit 0 (${floorTimes.length} tried)`);
  const floorMs = median(good.map(([f]) => f)) / 1e6;
  const pluginMs = median(good.map(([, p]) => p)) / 1e6;
  return { pluginMs, floorMs, ratio: pluginMs / floorMs, rounds: good.length, failed: floorTimes.length - good.length, bytes: output.length, floor: kind.what };
}

module.exports = { measure };
