// The platform layer of the static Linux builds (x86-64, arm64, armhf), which start without a C
// library: included by platform.h when the build defines PLATFORM_NO_LIBC. A run is the kernel's
// own work and the plugin's: exec, the plugin's few system calls, one write, exit. Nothing of a C
// library's start-up (its initialisation, thread area, the pages its data touches) comes between.
//
// From top to bottom: each architecture's system call and entry point, a few lines each; the
// start of the process, which reads the environment from the initial stack; the system calls the
// plugin makes; and the string and memory functions that the plugin and the compiler call. The C
// library's headers still declare those functions and name the system calls' numbers; nothing of
// the library itself is linked (the build links with -nostdlib, and libgcc for the arithmetic the
// processor lacks).

#include <sys/syscall.h>

constexpr char target_os[] = "linux";
constexpr char target_libc[] = "none";

/* ==== Each architecture: a system call, and the entry point ==== */
// A system call takes its number and up to four arguments in registers and returns a result, or
// a negative error number (-EAGAIN). The kernel starts the process at _start, with no frame and
// nothing set up; it hands the initial stack (argc, the arguments, a null, the environment, a
// null) to start_process, with the stack aligned as calls expect.

#if defined(__x86_64__)
static long system_call(long number, long a = 0, long b = 0, long c = 0, long d = 0)
{
    register long r10 asm("r10") = d;
    long result;
    asm volatile("syscall"
                 : "=a"(result)
                 : "a"(number), "D"(a), "S"(b), "d"(c), "r"(r10)
                 : "rcx", "r11", "memory");
    return result;
}
asm(".pushsection .text\n"
    ".global _start\n"
    "_start:\n"
    "    xor %ebp, %ebp\n"
    "    mov %rsp, %rdi\n"
    "    and $-16, %rsp\n"
    "    call start_process\n"
    ".popsection\n");
#elif defined(__aarch64__)
static long system_call(long number, long a = 0, long b = 0, long c = 0, long d = 0)
{
    register long x8 asm("x8") = number;
    register long x0 asm("x0") = a;
    register long x1 asm("x1") = b;
    register long x2 asm("x2") = c;
    register long x3 asm("x3") = d;
    asm volatile("svc #0" : "+r"(x0) : "r"(x8), "r"(x1), "r"(x2), "r"(x3) : "memory");
    return x0;
}
asm(".pushsection .text\n"
    ".global _start\n"
    "_start:\n"
    "    mov x29, #0\n"
    "    mov x30, #0\n"
    "    mov x0, sp\n"
    "    bl start_process\n"
    ".popsection\n");
#elif defined(__arm__) && defined(__ARM_EABI__)
static long system_call(long number, long a = 0, long b = 0, long c = 0, long d = 0)
{
    register long r7 asm("r7") = number;
    register long r0 asm("r0") = a;
    register long r1 asm("r1") = b;
    register long r2 asm("r2") = c;
    register long r3 asm("r3") = d;
    asm volatile("svc #0" : "+r"(r0) : "r"(r7), "r"(r1), "r"(r2), "r"(r3) : "memory");
    return r0;
}
// In ARM code, whichever the compiler uses: the linker makes the call reach Thumb code.
asm(".pushsection .text\n"
    ".arm\n"
    ".global _start\n"
    "_start:\n"
    "    mov r0, sp\n"
    "    bic r1, r0, #7\n"
    "    mov sp, r1\n"
    "    bl start_process\n"
    ".popsection\n");
// libgcc's 64-bit division raises SIGFPE through raise() on a division by zero.
extern "C" int raise(int signal) { return system_call(SYS_kill, system_call(SYS_getpid), signal); }
#else
#error "the build without a C library is made for x86-64, arm64 and armhf Linux only"
#endif

/* ==== The start of the process ==== */

static char **environment;

// The plugin's main, called by its own name (C++ does not let a program call main directly).
extern "C" int plugin_main(int argc, char **argv) asm("main");

extern "C" [[noreturn]] void exit(int status)
{
    for (;;)
        system_call(SYS_exit_group, status);
}

// What the linker gathers of the constructors of static objects that need code to start, if a
// plugin ever has one; nothing else runs them without a C library.
extern "C" void (*__init_array_start[])(), (*__init_array_end[])();

extern "C" [[noreturn]] __attribute__((used)) void start_process(long *stack)
{
    const int argc = static_cast<int>(stack[0]);
    char **argv = reinterpret_cast<char **>(stack + 1);
    environment = argv + argc + 1;
    for (auto constructor = __init_array_start; constructor != __init_array_end; constructor++)
        (*constructor)();
    exit(plugin_main(argc, argv));
}

/* ==== The system calls of the plugin ==== */

// The value of the variable, as the environment holds its bytes, or nullptr when it is not set.
// unreadable_value never comes from here.
static const char *environment_variable(const char *name)
{
    for (char **entry = environment; *entry != nullptr; entry++) {
        const char *text = *entry;
        const char *wanted = name;
        while (*wanted != '\0' && *text == *wanted) {
            text++;
            wanted++;
        }
        if (*wanted == '\0' && *text == '=')
            return text + 1;
    }
    return nullptr;
}

// A host that stops reading early must not kill the process with SIGPIPE: the write fails quietly.
// The kernel's sigaction holds the handler first; the rest (flags, restorer, mask) stays zero.
static void prepare_output()
{
    const unsigned long ignore[4] = {1}; // SIG_IGN
    system_call(SYS_rt_sigaction, SIGPIPE, reinterpret_cast<long>(ignore), 0, 8);
}

struct output_vector {
    const void *base;
    size_t length;
};

// Writes the pieces to descriptor 1 in one writev, going on where a short write stopped, and
// waiting when the descriptor is non-blocking and full. Returns false when part of them could not
// be delivered for any reason but the reader having gone (EPIPE) or descriptor 1 not being open
// for writing (EBADF): no space, a file-size limit, an I/O error.
static bool write_pieces(const std::string_view *pieces, size_t count)
{
    output_vector vectors[piece_capacity];
    for (size_t i = 0; i < count; i++)
        vectors[i] = {pieces[i].data(), pieces[i].size()};
    output_vector *next = vectors;
    while (count > 0) {
        const long written =
            system_call(SYS_writev, 1, reinterpret_cast<long>(next), static_cast<long>(count));
        if (written == -EAGAIN) {
            struct {
                int descriptor;
                short events, returned;
            } output = {1, 4 /* POLLOUT */, 0};
            system_call(SYS_ppoll, reinterpret_cast<long>(&output), 1, 0, 0);
            continue;
        }
        if (written == -EINTR)
            continue;
        if (written < 0)
            return written == -EPIPE || written == -EBADF;
        size_t left = static_cast<size_t>(written);
        while (count > 0 && left >= next->length) {
            left -= next->length;
            next++;
            count--;
        }
        if (count > 0) {
            next->base = static_cast<const char *>(next->base) + left;
            next->length -= left;
        }
    }
    return true;
}

// The computer's name as uname gives it (at most 64 bytes), or "unknown".
static void read_host_name(char (&name)[host_name_capacity])
{
    struct {
        char system[65], node[65], release[65], version[65], machine[65], domain[65];
    } names;
    if (system_call(SYS_uname, reinterpret_cast<long>(&names)) != 0)
        strcpy(name, "unknown");
    else
        memcpy(name, names.node, sizeof names.node);
    name[sizeof name - 1] = '\0';
}

static unsigned long long current_process_id()
{
    return static_cast<unsigned long long>(system_call(SYS_getpid));
}

// The seconds since 1970, or -1.
static time_t current_time()
{
    constexpr long realtime = 0; // CLOCK_REALTIME
    struct {
        long long seconds, nanoseconds;
    } now;
#if defined(SYS_clock_gettime64)
    // 32-bit ARM: the 64-bit clock of Linux 5.1 and later, or else the one that ends in 2038.
    long got = system_call(SYS_clock_gettime64, realtime, reinterpret_cast<long>(&now));
    if (got == -ENOSYS) {
        struct {
            long seconds, nanoseconds;
        } old;
        got = system_call(SYS_clock_gettime32, realtime, reinterpret_cast<long>(&old));
        now.seconds = old.seconds;
    }
#else
    const long got = system_call(SYS_clock_gettime, realtime, reinterpret_cast<long>(&now));
#endif
    return got == 0 ? static_cast<time_t>(now.seconds) : time_t(-1);
}

/* ==== String and memory functions ==== */
// The few the plugin and the compiler call, byte by byte: the strings they see are short. The
// empty asm in each loop keeps the compiler from turning the loop back into a call to itself.

// A word at a time, then byte by byte: the answers are copied into the output buffer here.
extern "C" void *memcpy(void *to, const void *from, size_t size)
{
    char *out = static_cast<char *>(to);
    const char *in = static_cast<const char *>(from);
    for (; size >= sizeof(long); size -= sizeof(long), in += sizeof(long), out += sizeof(long)) {
        long word;
        __builtin_memcpy(&word, in, sizeof word);
        __builtin_memcpy(out, &word, sizeof word);
    }
    for (; size > 0; size--) {
        asm("");
        *out++ = *in++;
    }
    return to;
}

extern "C" void *memmove(void *to, const void *from, size_t size)
{
    if (to < from)
        return memcpy(to, from, size);
    for (size_t i = size; i > 0; i--) {
        asm("");
        static_cast<char *>(to)[i - 1] = static_cast<const char *>(from)[i - 1];
    }
    return to;
}

extern "C" void *memset(void *to, int byte, size_t size)
{
    for (size_t i = 0; i < size; i++) {
        asm("");
        static_cast<char *>(to)[i] = static_cast<char>(byte);
    }
    return to;
}

extern "C" int memcmp(const void *left, const void *right, size_t size)
{
    const unsigned char *a = static_cast<const unsigned char *>(left);
    const unsigned char *b = static_cast<const unsigned char *>(right);
    for (size_t i = 0; i < size; i++)
        if (a[i] != b[i])
            return a[i] - b[i];
    return 0;
}

extern "C" size_t strlen(const char *text)
{
    size_t length = 0;
    while (text[length] != '\0')
        length++;
    return length;
}

extern "C" int strncmp(const char *left, const char *right, size_t most)
{
    for (size_t i = 0; i < most; i++) {
        const unsigned char a = left[i], b = right[i];
        if (a != b || a == '\0')
            return a - b;
    }
    return 0;
}

extern "C" int strcmp(const char *left, const char *right) { return strncmp(left, right, -1); }

extern "C" char *strcpy(char *to, const char *from)
{
    return static_cast<char *>(memcpy(to, from, strlen(from) + 1));
}

extern "C" char *strchr(const char *text, int wanted)
{
    for (;; text++) {
        if (*text == static_cast<char>(wanted))
            return const_cast<char *>(text);
        if (*text == '\0')
            return nullptr;
    }
}

extern "C" char *strstr(const char *text, const char *wanted)
{
    const size_t length = strlen(wanted);
    for (; *text != '\0'; text++)
        if (strncmp(text, wanted, length) == 0)
            return const_cast<char *>(text);
    return length == 0 ? const_cast<char *>(text) : nullptr;
}
