'use strict';
// The floor a plugin's time is measured against: the plainest program of the plugin's own kind
// that writes the same bytes. For a compiled plugin, a C program with the answer compiled in, one
// write and exit, linked as the plugin is: static (musl-gcc -static where it is installed), or
// with the same C library's dynamic loader (musl-gcc for a musl program, the C compiler's default
// link for any other), so that a dynamic program is not weighed against a static one's start. For
// a script, its interpreter started by the same #! line on a script that does nothing more. A
// small C timer of its own starts floor and plugin in turn, as a host does, reading each answer
// through a pipe to its end, so that what is timed is the process and not the checker's own
// start-up of it.
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { hostEnvironment } = require('./launch');
const { programKind, HERE } = require('./program');

// The answer is taken into the program by the assembler from a file in the folder it is built in,
// whatever its length.
const FLOOR_C = (file) => `#include <unistd.h>
__asm__(".section .rodata\\n.globl answer\\nanswer:\\n.incbin \\"${file}\\"\\n.globl answer_end\\nanswer_end:\\n.previous");
extern const char answer[], answer_end[];
int main(void) { return write(1, answer, answer_end - answer) != answer_end - answer; }
`;

// timer ROUNDS BUDGET_MS FLOOR PLUGIN [ARG...]: prints one line "floor-ns plugin-ns" a round,
// the two in turn (which goes first flips each round), -1 for a run that did not exit 0; stops
// after ROUNDS rounds, or sooner once BUDGET_MS have passed and at least 5 rounds were made.
const TIMER_C = `#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>
#include <sys/wait.h>
static long long now(void) { struct timespec t; clock_gettime(CLOCK_MONOTONIC, &t); return t.tv_sec * 1000000000LL + t.tv_nsec; }
static long long once(char **argv) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  long long begin = now();
  pid_t pid = fork();
  if (pid == 0) { dup2(fds[1], 1); close(fds[0]); close(fds[1]); execv(argv[0], argv); _exit(127); }
  close(fds[1]);
  static char sink[65536];
  while (read(fds[0], sink, sizeof sink) > 0) {}
  close(fds[0]);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  long long took = now() - begin;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? took : -1;
}
int main(int argc, char **argv) {
  if (argc < 5) return 2;
  int rounds = atoi(argv[1]);
  long long budget = atoll(argv[2]) * 1000000LL, start = now();
  char *floor[] = {argv[3], NULL};
  for (int i = 0; i < rounds && (i < 5 || now() - start < budget); i++) {
    long long f, p;
    if (i % 2) { f = once(floor); p = once(argv + 4); } else { p = once(argv + 4); f = once(floor); }
    printf("%lld %lld\\n", f, p);
  }
  return 0;
}
`;

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

// Compiles `source` into `directory`/`name` with `compiler`; returns the path, or throws with the
// compiler's words.
function compile(compiler, directory, name, source) {
  const file = path.join(directory, `${name}.c`);
  fs.writeFileSync(file, source);
  const output = path.join(directory, name);
  const made = spawnSync(compiler[0], [...compiler.slice(1), file, '-o', output], { encoding: 'utf8', cwd: directory });
  if (made.status !== 0) throw new Error(`${compiler.join(' ')} ${name}.c failed: ${(made.stderr || String(made.error)).trim()}`);
  return output;
}

const median = (numbers) => {
  const sorted = [...numbers].sort((a, b) => a - b);
  return sorted.length % 2 ? sorted[(sorted.length - 1) / 2] : (sorted[sorted.length / 2 - 1] + sorted[sorted.length / 2]) / 2;
};

// Times `plugin` on `run` against a floor of its kind writing `bytes` (which a longer answer's are
// the first of: the floor writes them over again to its length); `name` names the floor's files.
// Returns { pluginMs, floorMs, ratio, rounds, failed, bytes, floor } (medians), or throws.
function measure(plugin, run, output, { directory, name }) {
  const kind = floorFor(plugin);
  if (kind.none) throw new Error(kind.none);
  const tools = timerCompiler();
  if (!tools) throw new Error('no C compiler (musl-gcc, cc, gcc or clang) to build the timer with');
  const timer = path.join(directory, 'timer');
  if (!fs.existsSync(timer)) compile(tools, directory, 'timer', TIMER_C);
  let floor;
  if (kind.script !== undefined) {
    floor = path.join(directory, `floor-${name}`);
    fs.writeFileSync(floor, `#!${kind.script}\n`, { mode: 0o755 });
  } else {
    const { bytes, length } = output;
    fs.writeFileSync(path.join(directory, `answer-${name}`), length > bytes.length ? Buffer.alloc(length, bytes) : bytes);
    floor = compile(kind.build, directory, `floor-${name}`, FLOOR_C(`answer-${name}`));
  }
  const timed = spawnSync(timer, [String(ROUNDS), String(BUDGET_MS), floor, plugin, ...run.args], {
    env: hostEnvironment(run.env),
    stdio: ['ignore', 'pipe', 'ignore'],
    encoding: 'utf8',
    timeout: 60000,
  });
  if (timed.status !== 0) throw new Error(`the timer failed: ${timed.error || `exit ${timed.status}`}`);
  const pairs = timed.stdout.trim().split('\n').map((line) => line.split(' ').map(Number));
  const good = pairs.filter(([f, p]) => f > 0 && p > 0);
  if (good.length === 0) throw new Error(`no timed run ended with exit 0 (${pairs.length} tried)`);
  const floorMs = median(good.map(([f]) => f)) / 1e6;
  const pluginMs = median(good.map(([, p]) => p)) / 1e6;
  return { pluginMs, floorMs, ratio: pluginMs / floorMs, rounds: good.length, failed: pairs.length - good.length, bytes: output.length, floor: kind.what };
}

module.exports = { measure };
