'use strict';
// The floor a plugin's time is weighed against: the plainest program that writes the same bytes in
// one write and exits. And the timer that starts programs side by side as a host starts a plugin,
// and the median of what it measures. The bench and the contract checker's cost rule build both
// here. The C sources are texts here, for the checker is one file that needs only Node.js.
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

// The answer is taken into the program by the assembler from a file beside it, whatever its length.
const ANSWER = (file) => `__asm__(".section .rodata\\n.globl answer\\nanswer:\\n.incbin \\"${file}\\"\\n.globl answer_end\\nanswer_end:\\n.previous");
extern const char answer[], answer_end[];
`;

// A C program: the C library starts it, it makes one write and returns.
const FLOOR_C = (file) => `#include <unistd.h>
${ANSWER(file)}int main(void) { return write(1, answer, answer_end - answer) != answer_end - answer; }
`;

// The raw floor, the least a process can cost: no C library at all (built with -static -nostdlib),
// the kernel starts it at _start, which makes the one write system call and exits. x86-64 Linux.
const RAW_FLOOR_C = (file) => `${ANSWER(file)}static long system_call(long number, long a, long b, long c)
{
    long result;
    __asm__ volatile("syscall" : "=a"(result) : "a"(number), "D"(a), "S"(b), "d"(c) : "rcx", "r11", "memory");
    return result;
}
void _start(void)
{
    const long size = answer_end - answer;
    system_call(231 /* exit_group */, system_call(1 /* write */, 1, (long)answer, size) != size, 0, 0);
}
`;

// timer ROUNDS BUDGET_MS null|pipe PROGRAM [ARG...] [-- PROGRAM [ARG...]]...
// Starts each program once a round, in turn, with posix_spawn, its standard output sent to
// /dev/null or read to its end through a pipe (as a host reads it), and takes the time from just
// before the spawn to the moment the program has been waited for. Taking turns, every program meets
// the machine's load of the same moment; the order flips every other round, so that none always
// runs first. Rounds before the first counted one bring the programs into the page cache. Stops
// after ROUNDS rounds, or once BUDGET_MS have passed and 5 rounds were counted. Prints one line a
// round: each program's time in nanoseconds, -1 for a run that did not exit 0.
const TIMER_C = `#define _GNU_SOURCE
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#define MOST_PROGRAMS 8
#define WARMUP_ROUNDS 3
extern char **environ;
static long long now(void) { struct timespec t; clock_gettime(CLOCK_MONOTONIC, &t); return t.tv_sec * 1000000000LL + t.tv_nsec; }
static long long once(char **argv, int through_pipe, int null_output) {
  int ends[2] = {-1, -1};
  if (through_pipe && pipe2(ends, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, through_pipe ? ends[1] : null_output, 1);
  long long begin = now();
  pid_t pid;
  int failed = posix_spawn(&pid, argv[0], &actions, NULL, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (through_pipe) {
    static char sink[65536];
    close(ends[1]);
    while (!failed && read(ends[0], sink, sizeof sink) > 0) {}
    close(ends[0]);
  }
  int status = 0;
  if (failed || waitpid(pid, &status, 0) != pid) return -1;
  long long took = now() - begin;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? took : -1;
}
int main(int argc, char **argv) {
  if (argc < 5) return 2;
  int rounds = atoi(argv[1]), through_pipe = strcmp(argv[3], "pipe") == 0, count = 0;
  long long budget = atoll(argv[2]) * 1000000LL, start = 0;
  char **programs[MOST_PROGRAMS];
  for (int i = 4; i < argc && count < MOST_PROGRAMS; i++) {
    programs[count++] = argv + i;
    while (i < argc && strcmp(argv[i], "--") != 0) i++;
    argv[i] = NULL;
  }
  int null_output = open("/dev/null", O_WRONLY | O_CLOEXEC);
  for (int round = -WARMUP_ROUNDS; round < rounds && (round < 5 || now() - start < budget); round++) {
    long long times[MOST_PROGRAMS];
    if (round == 0) start = now();
    for (int turn = 0; turn < count; turn++) {
      int p = round % 2 == 0 ? turn : count - 1 - turn;
      times[p] = once(programs[p], through_pipe, null_output);
    }
    for (int p = 0; round >= 0 && p < count; p++) printf(p + 1 < count ? "%lld " : "%lld\\n", times[p]);
  }
  return 0;
}
`;

const median = (numbers) => {
  const sorted = [...numbers].sort((a, b) => a - b);
  const middle = sorted.length >> 1;
  return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
};

// Compiles `source` into `directory`/`name` with `compiler` (an argument list), in that folder;
// returns the path, or throws with the compiler's words.
function compile(compiler, directory, name, source) {
  fs.writeFileSync(path.join(directory, `${name}.c`), source);
  const made = spawnSync(compiler[0], [...compiler.slice(1), `${name}.c`, '-o', name], { encoding: 'utf8', cwd: directory });
  if (made.status !== 0) throw new Error(`${compiler.join(' ')} ${name}.c failed: ${(made.stderr || String(made.error)).trim()}`);
  return path.join(directory, name);
}

// Builds, in `directory`, the floor `name` that writes `bytes`: a C program built with `compiler`,
// or with `raw` the raw floor (its compiler given -static -nostdlib). Returns its path.
function buildFloor(compiler, directory, name, bytes, { raw = false } = {}) {
  fs.writeFileSync(path.join(directory, `answer-${name}`), bytes);
  return compile(compiler, directory, `floor-${name}`, (raw ? RAW_FLOOR_C : FLOOR_C)(`answer-${name}`));
}

// Builds the timer into `directory` with `compiler`, unless it is there from the same source;
// returns its path.
function buildTimer(compiler, directory) {
  const timer = path.join(directory, 'timer');
  const built = fs.existsSync(timer) && fs.readFileSync(`${timer}.c`, 'utf8') === TIMER_C;
  return built ? timer : compile(compiler, directory, 'timer', TIMER_C);
}

// Times `commands` (argument lists) side by side with the timer, in `env`: up to `rounds` rounds,
// or `budgetMs`, their output read through a pipe or sent to /dev/null (`output`, 'pipe' or
// 'null'). Returns each command's times in nanoseconds, one a round, -1 where a run failed.
function timeSideBySide(timer, commands, { rounds, budgetMs = 1e9, output = 'pipe', env }) {
  const args = [String(rounds), String(budgetMs), output, ...commands.flatMap((command, i) => (i === 0 ? command : ['--', ...command]))];
  const timed = spawnSync(timer, args, { env, stdio: ['ignore', 'pipe', 'ignore'], encoding: 'utf8', maxBuffer: 1 << 28 });
  if (timed.status !== 0) throw new Error(`the timer failed: ${timed.error || `exit ${timed.status}`}`);
  const rows = timed.stdout.trim().split('\n').filter(Boolean).map((line) => line.split(' ').map(Number));
  return commands.map((_, i) => rows.map((row) => row[i]));
}

module.exports = { median, buildFloor, buildTimer, timeSideBySide };
