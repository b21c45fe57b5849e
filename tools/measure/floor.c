/* The floor: the least work a process can do to give an answer. It writes one answer, whose bytes
 * the benchmark captured from the plugin and compiled in as ANSWER (a file of comma-separated
 * byte values), in a single write, and exits. It is built with the plugin's compiler and link
 * mode, so the two differ only in what their own code does. */
#include <unistd.h>

static const char answer[] = {
#include ANSWER
};

int main(void) { return write(1, answer, sizeof answer) != (ssize_t)sizeof answer; }
