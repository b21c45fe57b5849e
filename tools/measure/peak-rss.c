/* peak-rss PROGRAM [ARGUMENT...]: runs the program and prints the peak resident set size of the
 * image it executes, in KiB, and the page faults that image took, as a last line "peak-rss: N faults: F"
 * on standard error. The program's own output passes through.
 *
 * The number is VmHWM from /proc/PID/status, read while the process stops on its way out (ptrace's
 * exit event), when its memory is still there. getrusage's ru_maxrss (what /usr/bin/time -f %M
 * prints) would not do: the kernel folds in the memory the process had before execve, a copy of
 * the wrapper that started it, which puts a floor under the number of every small program. */
#include <signal.h>
#include <stdio.h>
#include <sys/ptrace.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

/* The high-water mark of the process's resident memory in KiB, or -1 when it cannot be read. */
static long peak_kib(pid_t pid)
{
    char path[64], line[256];
    long kib = -1;
    snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
    FILE *status = fopen(path, "r");
    if (status == NULL)
        return -1;
    while (fgets(line, sizeof line, status) != NULL)
        if (sscanf(line, "VmHWM: %ld kB", &kib) == 1)
            break;
    fclose(status);
    return kib;
}

/* The minor page faults the process has taken so far (field 10 of /proc/PID/stat), or -1. */
static long minor_faults(pid_t pid)
{
    char path[64];
    long faults = -1;
    snprintf(path, sizeof path, "/proc/%d/stat", (int)pid);
    FILE *stat = fopen(path, "r");
    if (stat == NULL)
        return -1;
    /* The command name may hold spaces, but not ") ", which ends it. */
    if (fscanf(stat, "%*d (%*[^)]) %*c %*d %*d %*d %*d %*d %*u %ld", &faults) != 1)
        faults = -1;
    fclose(stat);
    return faults;
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        fputs("usage: peak-rss PROGRAM [ARGUMENT...]\n", stderr);
        return 2;
    }
    pid_t pid = fork();
    if (pid == 0) {
        ptrace(PTRACE_TRACEME, 0, NULL, NULL);
        execvp(argv[1], argv + 1);
        perror(argv[1]);
        _exit(127);
    }
    int status;
    long kib = -1, faults = -1;
    /* A traced child stops with SIGTRAP once execve has replaced its image. */
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status)) {
        fputs("peak-rss: the program did not start\n", stderr);
        return 1;
    }
    /* Faults taken so far were the forked copy's and execve's, not the program's. */
    const long faults_before = minor_faults(pid);
    ptrace(PTRACE_SETOPTIONS, pid, NULL, (void *)PTRACE_O_TRACEEXIT);
    ptrace(PTRACE_CONT, pid, NULL, NULL);
    while (waitpid(pid, &status, 0) == pid && WIFSTOPPED(status)) {
        int pass_signal = 0;
        if (status >> 8 == (SIGTRAP | PTRACE_EVENT_EXIT << 8)) {
            kib = peak_kib(pid);
            faults = minor_faults(pid) - faults_before;
        } else
            pass_signal = WSTOPSIG(status);
        ptrace(PTRACE_CONT, pid, NULL, (void *)(long)pass_signal);
    }
    fprintf(stderr, "peak-rss: %ld faults: %ld\n", kib, faults);
    return kib < 0 || !WIFEXITED(status) ? 1 : WEXITSTATUS(status);
}
