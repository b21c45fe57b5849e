// The platform layer on Linux (glibc and musl) and macOS: included by platform.h.

#include <poll.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#if defined(__linux__)
constexpr char target_os[] = "linux";
#elif defined(__APPLE__)
constexpr char target_os[] = "darwin";
#else
constexpr char target_os[] = "unknown";
#endif

// musl deliberately defines no macro of its own; on Linux, a C library that is not glibc is musl.
#if defined(__GLIBC__)
constexpr char target_libc[] = "glibc";
#elif defined(__linux__)
constexpr char target_libc[] = "musl";
#else
constexpr char target_libc[] = "native";
#endif

// The environment holds bytes, read whole: unreadable_value never comes from here.
static const char *environment_variable(const char *name) { return getenv(name); }

// A host that stops reading early must not kill the process with SIGPIPE: the write fails quietly.
static void prepare_output() { signal(SIGPIPE, SIG_IGN); }

// Writes the pieces to descriptor 1 in one writev, going on where a short write stopped, and
// waiting when the descriptor is non-blocking and full. Returns false when part of them could not
// be delivered for any reason but the reader having gone (EPIPE) or descriptor 1 not being open
// for writing (EBADF): no space, a file-size limit, an I/O error.
static bool write_pieces(const std::string_view *pieces, size_t count)
{
    struct iovec vectors[piece_capacity];
    for (size_t i = 0; i < count; i++)
        vectors[i] = {const_cast<char *>(pieces[i].data()), pieces[i].size()};
    struct iovec *next = vectors;
    while (count > 0) {
        const ssize_t written = writev(STDOUT_FILENO, next, static_cast<int>(count));
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            struct pollfd output = {STDOUT_FILENO, POLLOUT, 0};
            poll(&output, 1, -1);
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return errno == EPIPE || errno == EBADF;
        size_t left = static_cast<size_t>(written);
        while (count > 0 && left >= next->iov_len) {
            left -= next->iov_len;
            next++;
            count--;
        }
        if (count > 0) {
            next->iov_base = static_cast<char *>(next->iov_base) + left;
            next->iov_len -= left;
        }
    }
    return true;
}

// The computer's name as the system gives it (at most 255 bytes), or "unknown".
static void read_host_name(char (&name)[host_name_capacity])
{
    if (gethostname(name, sizeof name) != 0)
        strcpy(name, "unknown");
    name[sizeof name - 1] = '\0';
}

static unsigned long long current_process_id() { return static_cast<unsigned long long>(getpid()); }

#if defined(__linux__) && defined(__LP64__)
// The seconds since 1970, or -1, from a system call. The C library's time() reads the clock in the
// kernel's vDSO instead, whose pages a process that reads the clock once must first fault in: two
// page faults cost more than one system call in a run of a few hundred microseconds. (Only where
// time_t and the system call's timespec agree: 64-bit targets.)
static time_t current_time()
{
    struct timespec now;
    return syscall(SYS_clock_gettime, CLOCK_REALTIME, &now) == 0 ? now.tv_sec : time_t(-1);
}
#else
static time_t current_time() { return time(nullptr); }
#endif
