/* alternate ROUNDS null|pipe PROGRAM [ARGUMENT...] [-- PROGRAM [ARGUMENT...]]...
 *
 * The bench's timer. In each round it starts each program once, in turn, with posix_spawn, its
 * standard output sent to /dev/null or read to its end through a pipe (as a host reads it), and
 * takes the time from just before the spawn to the moment the program has been waited for. The
 * programs take turns within every round, in the opposite order every other round, so that each meets the machine's load of the same
 * moment, and their medians compare like with like on a shared machine. Some rounds first are not
 * counted: they bring the programs into the page cache.
 *
 * Prints one line per round: each program's time in nanoseconds, in the order given. Exits 1
 * when a program does not start or does not exit 0. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#define MOST_PROGRAMS 8
#define WARMUP_ROUNDS 20

extern char **environ;

static long long now_ns(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

/* Runs the program once; returns its time in nanoseconds, or -1 when it failed. */
static long long run_once(char **argv, int through_pipe, int null_output)
{
    int ends[2] = {-1, -1};
    if (through_pipe && pipe2(ends, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, through_pipe ? ends[1] : null_output, 1);
    const long long start = now_ns();
    pid_t pid;
    const int failed = posix_spawn(&pid, argv[0], &actions, NULL, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (through_pipe) {
        close(ends[1]);
        char buffer[65536];
        while (!failed && read(ends[0], buffer, sizeof buffer) > 0)
            ;
        close(ends[0]);
    }
    int status;
    if (failed || waitpid(pid, &status, 0) != pid)
        return -1;
    const long long elapsed = now_ns() - start;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? elapsed : -1;
}

int main(int argc, char **argv)
{
    const int rounds = argc > 3 ? atoi(argv[1]) : 0;
    if (rounds < 1 || (strcmp(argv[2], "null") != 0 && strcmp(argv[2], "pipe") != 0)) {
        fputs("usage: alternate ROUNDS null|pipe PROGRAM [ARGUMENT...] [-- PROGRAM [ARGUMENT...]]...\n", stderr);
        return 2;
    }
    const int through_pipe = strcmp(argv[2], "pipe") == 0;
    char **programs[MOST_PROGRAMS];
    int count = 0;
    for (int i = 3; i < argc; i++) {
        if (count == MOST_PROGRAMS) {
            fprintf(stderr, "alternate: at most %d programs\n", MOST_PROGRAMS);
            return 2;
        }
        programs[count++] = argv + i;
        while (i < argc && strcmp(argv[i], "--") != 0)
            i++;
        argv[i] = NULL;
    }
    const int null_output = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null_output < 0)
        return 1;
    for (int round = -WARMUP_ROUNDS; round < rounds; round++) {
        long long times[MOST_PROGRAMS];
        /* Every other round in the opposite order: none always runs first, or after the same. */
        for (int turn = 0; turn < count; turn++) {
            const int p = round % 2 == 0 ? turn : count - 1 - turn;
            if ((times[p] = run_once(programs[p], through_pipe, null_output)) < 0) {
                fprintf(stderr, "alternate: %s did not run and exit 0\n", programs[p][0]);
                return 1;
            }
        }
        for (int p = 0; round >= 0 && p < count; p++)
            printf(p + 1 < count ? "%lld " : "%lld\n", times[p]);
    }
    return 0;
}
