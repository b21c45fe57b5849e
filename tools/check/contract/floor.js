'use strict';
// The floor a plugin's time is measured against: the plainest program that writes the same
// bytes, a static C program (musl-gcc -static where it is installed, else the C compiler's
// default link) with the answer compiled in, one write and exit. A small C timer of its own
// starts floor and plugin in turn, as a host does, reading each answer through a pipe to its
// end, so that what is timed is the process and not the checker's own start-up of it.
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { hostEnvironment } = require('./launch');

const FLOOR_C = (bytes) => `#include <unistd.h>
static const unsigned char answer[] = {${[...bytes].join(',')}};
int main(void) { return write(1, answer, sizeof answer) != (ssize_t)sizeof answer; }
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

// The compilers to build with: { floor: argv, timer: argv, name } or null when there is none.
function compilers() {
  if (has('musl-gcc')) return { floor: ['musl-gcc', '-O2', '-static', '-s'], timer: ['musl-gcc', '-O2', '-static'] };
  const cc = ['cc', 'gcc', 'clang'].find(has);
  return cc ? { floor: [cc, '-O2', '-s'], timer: [cc, '-O2'] } : null;
}

// Compiles `source` into `directory`/`name` with `compiler`; returns the path, or throws with the
// compiler's words.
function compile(compiler, directory, name, source) {
  const file = path.join(directory, `${name}.c`);
  fs.writeFileSync(file, source);
  const output = path.join(directory, name);
  const made = spawnSync(compiler[0], [...compiler.slice(1), file, '-o', output], { encoding: 'utf8' });
  if (made.status !== 0) throw new Error(`${compiler.join(' ')} ${name}.c failed: ${(made.stderr || String(made.error)).trim()}`);
  return output;
}

const median = (numbers) => {
  const sorted = [...numbers].sort((a, b) => a - b);
  return sorted.length % 2 ? sorted[(sorted.length - 1) / 2] : (sorted[sorted.length / 2 - 1] + sorted[sorted.length / 2]) / 2;
};

// Times `plugin` on `run` against a floor writing `bytes`; `name` names the floor's files.
// Returns { pluginMs, floorMs, ratio, rounds, failed, bytes, floor } (medians), or throws.
function measure(plugin, run, bytes, { directory, name }) {
  const tools = compilers();
  if (!tools) throw new Error('no C compiler (musl-gcc, cc, gcc or clang) to build the floor with');
  const timer = path.join(directory, 'timer');
  if (!fs.existsSync(timer)) compile(tools.timer, directory, 'timer', TIMER_C);
  const floor = compile(tools.floor, directory, `floor-${name}`, FLOOR_C(bytes));
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
  return { pluginMs, floorMs, ratio: pluginMs / floorMs, rounds: good.length, failed: pairs.length - good.length, bytes: bytes.length, floor: tools.floor.join(' ') };
}

module.exports = { measure };
