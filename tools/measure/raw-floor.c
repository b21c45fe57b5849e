/* The raw floor: the least a process can cost, the kernel's own work. No C library: the kernel
 * starts it at _start, which writes the answer (its bytes compiled in as ANSWER, a file of
 * comma-separated byte values) in one write system call and exits. x86-64 Linux; built with
 * gcc -O2 -static -nostdlib -s. */
static const char answer[] = {
#include ANSWER
};

static long system_call(long number, long a, long b, long c)
{
    long result;
    __asm__ volatile("syscall" : "=a"(result) : "a"(number), "D"(a), "S"(b), "d"(c) : "rcx", "r11", "memory");
    return result;
}

void _start(void)
{
    const long written = system_call(1 /* write */, 1, (long)answer, sizeof answer);
    system_call(231 /* exit_group */, written != (long)sizeof answer, 0, 0);
}
