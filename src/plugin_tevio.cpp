// plugin_tevio: a reference plugin for the Bot host.
//
// The host runs this executable once per HTTP request, CGI-style: the request's query string and a
// few of its headers arrive in environment variables, and what the program writes on standard
// output (header lines, an empty line, a body) goes back to the browser as the response. One run
// answers one question:
//
//   plugin_tevio --meta            the meta record, by which the host lists the plugin
//   plugin_tevio --version | -v    the version line
//   QUERY_STRING='action=info'     a JSON answer: "info" (live node facts) or "echo"
//   QUERY_STRING=''                the themed page, whose script calls the JSON answers back
//
// When the host configures a node password (BOT_PASSWORD), every HTTP request must present it.
//
// The program reads nothing but its arguments and its environment, never touches the heap and
// writes nothing on standard error. Failures are answers, not errors: the exit status is 0, and 1
// only when the answer could not be delivered whole (Output, below). Fork it by changing the texts
// below and the page files in src/page/; `make` rebuilds.

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <poll.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>
#endif

/* ==== Fixed texts ==== */

// The version stands in the version line, the info record and the page's top bar (src/page/).
#define PLUGIN_VERSION "1.1.0"

constexpr std::string_view meta_record = "{\"name\":\"tevio\",\"desc\":\"Starter demo\"}\n";
constexpr std::string_view version_line = PLUGIN_VERSION "\n";

constexpr std::string_view json_header = "Content-Type: application/json; charset=utf-8\r\n"
                                         "Cache-Control: no-store\r\n"
                                         "X-Content-Type-Options: nosniff\r\n"
                                         "\r\n";

constexpr std::string_view html_header = "Content-Type: text/html; charset=utf-8\r\n"
                                         "Cache-Control: no-store\r\n"
                                         "X-Content-Type-Options: nosniff\r\n"
                                         "\r\n";

// The host takes the HTTP status from the Status line and relays the JSON body as it is.
constexpr std::string_view refusal = "Status: 401 Unauthorized\r\n"
                                     "Content-Type: application/json; charset=utf-8\r\n"
                                     "Cache-Control: no-store\r\n"
                                     "X-Content-Type-Options: nosniff\r\n"
                                     "\r\n"
                                     "{\"ok\":false,\"error\":\"invalid node password\"}\n";

static_assert(json_header.size() == 107 && html_header.size() == 100 && refusal.size() == 178);

constexpr std::string_view info_record_start =
    "{\"ok\":true,\"plugin\":\"plugin_tevio\",\"slug\":\"tevio\",\"version\":\"" PLUGIN_VERSION
    "\",\"node\":{";

// Hints for a developer who runs the plugin by hand; the install text ends with a space.
constexpr std::string_view info_record_hints =
    ",\"hints\":{"
    "\"next_step\":\"Edit src/plugin_tevio, then run `make` (or `make musl win64`)\","
    "\"install\":\"cp plugin_tevio ~/.dorvanel/plugins/ \","
    "\"docs\":\"See README.md for the 3-mode contract and the fork workflow\","
    "\"verify\":\"plugin_tevio --meta && QUERY_STRING='action=info' plugin_tevio\"}";

/* ==== Platform ==== */
// Everything that differs between operating systems: the environment, standard output, the host
// name, the process id, the clock, and the constants that name the build target.

constexpr size_t host_name_capacity = 256;

// The most pieces that one write sends: the page's header block and its files.
constexpr size_t piece_capacity = 32;

#if defined(__x86_64__) || defined(_M_X64)
constexpr char target_arch[] = "x86_64";
#elif defined(__aarch64__) || defined(_M_ARM64)
constexpr char target_arch[] = "aarch64";
#elif defined(__i386__) || defined(_M_IX86)
constexpr char target_arch[] = "x86";
#elif defined(__arm__)
constexpr char target_arch[] = "arm";
#elif defined(__riscv) && __riscv_xlen == 64
constexpr char target_arch[] = "riscv64";
#else
constexpr char target_arch[] = "unknown";
#endif

#if defined(_WIN32)

constexpr char target_os[] = "windows";
constexpr char target_libc[] = "native";

// Windows keeps the environment in UTF-16, and the C runtime's getenv would hand it over through
// the ANSI code page, which differs from node to node and cannot hold most of Unicode. Each
// variable is read in UTF-16 instead and converted to UTF-8 once, so that every build sees the same
// bytes for the same text. A variable holds at most 32,767 UTF-16 units, its NUL included, and a
// unit is at most three bytes of UTF-8.
constexpr size_t variable_units = 32767;
// The program reads five variables; a fork may read three more (past that, one reads as unset).
constexpr size_t variable_capacity = 8;

static struct {
    const char *name;
    char value[variable_units * 3];
} variables[variable_capacity];
static size_t variable_count;

// The variable's value in UTF-8, or nullptr when it is not set. A value longer than Windows allows
// (only Wine passes one on, from Linux) reads as empty.
static const char *environment_variable(const char *name)
{
    for (size_t i = 0; i < variable_count; i++)
        if (strcmp(variables[i].name, name) == 0)
            return variables[i].value;
    wchar_t wide_name[64];
    static wchar_t wide_value[variable_units];
    MultiByteToWideChar(CP_UTF8, 0, name, -1, wide_name, std::size(wide_name));
    SetLastError(ERROR_SUCCESS);
    const DWORD units = GetEnvironmentVariableW(wide_name, wide_value, variable_units);
    if ((units == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) ||
        variable_count == variable_capacity)
        return nullptr;
    auto &variable = variables[variable_count++];
    variable.name = name;
    const int size = units < variable_units
                         ? WideCharToMultiByte(CP_UTF8, 0, wide_value, units, variable.value,
                                               sizeof variable.value - 1, nullptr, nullptr)
                         : 0;
    variable.value[size] = '\0';
    return variable.value;
}

// The C runtime starts standard output in text mode, which would turn every "\r\n" of a header
// block into "\r\r\n", a malformed CGI header line. Binary mode sends the bytes as written, and
// without a buffer of the stream's own each piece goes straight to the descriptor.
static void prepare_output()
{
    _setmode(_fileno(stdout), _O_BINARY);
    setvbuf(stdout, nullptr, _IONBF, 0);
}

// Writes the pieces to standard output in order. Returns false when part of them could not be
// delivered for any reason but the reader having gone (a pipe closed at its far end, which
// Windows reports in one of three ways) or standard output not being open (EBADF).
static bool write_pieces(const std::string_view *pieces, size_t count)
{
    for (size_t i = 0; i < count; i++)
        if (fwrite(pieces[i].data(), 1, pieces[i].size(), stdout) != pieces[i].size())
            return errno == EBADF || _doserrno == ERROR_BROKEN_PIPE || _doserrno == ERROR_NO_DATA ||
                   _doserrno == ERROR_PIPE_NOT_CONNECTED;
    return true;
}

// The computer's name in UTF-8, or "unknown".
static void read_host_name(char (&name)[host_name_capacity])
{
    wchar_t wide[host_name_capacity];
    DWORD units = host_name_capacity;
    const int size =
        GetComputerNameW(wide, &units)
            ? WideCharToMultiByte(CP_UTF8, 0, wide, units, name, sizeof name - 1, nullptr, nullptr)
            : 0;
    if (size == 0)
        strcpy(name, "unknown");
    else
        name[size] = '\0';
}

static unsigned long long current_process_id() { return GetCurrentProcessId(); }

static time_t current_time() { return time(nullptr); }

#else

#if defined(__linux__)
constexpr char target_os[] = "linux";
#elif defined(__APPLE__)
constexpr char target_os[] = "darwin";
#elif defined(__FreeBSD__)
constexpr char target_os[] = "freebsd";
#else
constexpr char target_os[] = "unix";
#endif

// musl deliberately defines no macro of its own; on Linux, a C library that is not glibc is musl.
#if defined(__GLIBC__)
constexpr char target_libc[] = "glibc";
#elif defined(__linux__) && !defined(__BIONIC__)
constexpr char target_libc[] = "musl";
#else
constexpr char target_libc[] = "native";
#endif

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

#endif

/* ==== Output ==== */
// The page and the refusal are fixed texts, sent from where they lie in one gathering write. A
// JSON answer is made in the output buffer, sent when the buffer is full and when the answer is
// done. Either way an answer that fits the buffer leaves in a single write.
//
// The exit status tells the host whether the answer left whole: 1 when part of it could not be
// delivered for any reason but the reader having gone, 0 otherwise. Nothing goes to standard error.

// More than any answer but an info record repeating a long query string, which leaves in several
// writes; little, since a CGI server may limit a run's memory (Apache's RLimitMEM).
static char output_buffer[32 * 1024];
static size_t output_used;
static int exit_status;

static void send_pieces(const std::string_view *pieces, size_t count)
{
    if (!write_pieces(pieces, count))
        exit_status = 1;
}

// Sends what the buffer holds. Returns the exit status.
static int finish_output()
{
    const std::string_view held(output_buffer, output_used);
    if (output_used > 0)
        send_pieces(&held, 1);
    output_used = 0;
    return exit_status;
}

// Adds the text to the answer; what the buffer holds leaves first when the text does not fit.
static void write_text(std::string_view text)
{
    if (text.size() > sizeof output_buffer - output_used) {
        finish_output();
        if (text.size() > sizeof output_buffer) {
            send_pieces(&text, 1);
            return;
        }
    }
    memcpy(output_buffer + output_used, text.data(), text.size());
    output_used += text.size();
}

static void write_decimal(unsigned long long value)
{
    char digits[20];
    size_t start = sizeof digits;
    do {
        digits[--start] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    write_text({digits + start, sizeof digits - start});
}

/* ==== Time ==== */

constexpr size_t utc_capacity = 64;
constexpr char utc_fallback[] = "1970-01-01T00:00:00Z";

// The year, month and day of a count of days since 1970-01-01 in the proleptic Gregorian calendar
// (H. Hinnant's civil_from_days). The conversion is done here because a C library's UTC conversion
// may open the time-zone database, and this program reads no files.
static void civil_from_days(long long days, long long &year, unsigned &month, unsigned &day)
{
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned day_of_era = static_cast<unsigned>(days - era * 146097);
    const unsigned year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const unsigned day_of_year =
        day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const unsigned month_from_march = (5 * day_of_year + 2) / 153;
    day = day_of_year - (153 * month_from_march + 2) / 5 + 1;
    month = month_from_march < 10 ? month_from_march + 3 : month_from_march - 9;
    year = year_of_era + era * 400 + (month <= 2);
}

static char *put_digits(char *out, unsigned long long value, int width)
{
    for (int i = width - 1; i >= 0; i--, value /= 10)
        out[i] = static_cast<char>('0' + value % 10);
    return out + width;
}

// The current time as "YYYY-MM-DDTHH:MM:SSZ"; the fallback text when the clock cannot be read or
// the year does not fit in four digits.
static void format_utc_now(char (&out)[utc_capacity])
{
    const time_t now = current_time();
    const long long seconds = static_cast<long long>(now);
    long long days = seconds / 86400, second_of_day = seconds % 86400;
    if (second_of_day < 0) {
        second_of_day += 86400;
        days--;
    }
    long long year;
    unsigned month, day;
    civil_from_days(days, year, month, day);
    if (now == static_cast<time_t>(-1) || year < 0 || year > 9999) {
        memcpy(out, utc_fallback, sizeof utc_fallback);
        return;
    }
    char *p = put_digits(out, static_cast<unsigned long long>(year), 4);
    *p++ = '-';
    p = put_digits(p, month, 2);
    *p++ = '-';
    p = put_digits(p, day, 2);
    *p++ = 'T';
    p = put_digits(p, static_cast<unsigned long long>(second_of_day / 3600), 2);
    *p++ = ':';
    p = put_digits(p, static_cast<unsigned long long>(second_of_day / 60 % 60), 2);
    *p++ = ':';
    p = put_digits(p, static_cast<unsigned long long>(second_of_day % 60), 2);
    *p++ = 'Z';
    *p = '\0';
}

/* ==== Query parameter lookup ==== */
// The query string is never decoded as a whole: each lookup scans it afresh from the start, finds
// the first parameter with the key, and decodes only that value, into the caller's fixed buffer.

static int hex_digit_value(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Decodes %XX and '+' in place. Decoded bytes are not looked at again, and a '%' without two hex
// digits after it stays as it is. A decoded NUL ends the value for every later use.
static void decode_query_value(char *value)
{
    const char *in = value;
    char *out = value;
    while (*in) {
        int high, low;
        if (in[0] == '%' && (high = hex_digit_value(in[1])) >= 0 &&
            (low = hex_digit_value(in[2])) >= 0) {
            *out++ = static_cast<char>(high << 4 | low);
            in += 3;
        } else {
            *out++ = *in == '+' ? ' ' : *in;
            in++;
        }
    }
    *out = '\0';
}

// Finds the first parameter named `key` in the raw query string (parameters are separated by '&'
// only) and leaves its decoded value in `out`. At most capacity - 1 raw bytes are copied before
// decoding, so a longer value is cut, never rejected. Returns 1 when the parameter is present, even
// with an empty value, and 0 otherwise; `out` always ends up a NUL-terminated string.
int get_query_val(const char *query, const char *key, char *out, size_t capacity)
{
    if (capacity == 0)
        return 0;
    out[0] = '\0';
    if (query == nullptr || query[0] == '\0')
        return 0;
    const size_t key_length = strlen(key);
    for (const char *segment = query;;) {
        if (strncmp(segment, key, key_length) == 0 && segment[key_length] == '=') {
            const char *value = segment + key_length + 1;
            size_t length = 0;
            while (length < capacity - 1 && value[length] != '\0' && value[length] != '&')
                length++;
            memcpy(out, value, length);
            out[length] = '\0';
            decode_query_value(out);
            return 1;
        }
        const char *separator = strchr(segment, '&');
        if (separator == nullptr || separator[1] == '\0')
            return 0;
        segment = separator + 1;
    }
}

/* ==== Node password gate ==== */

// Whether the two strings hold the same bytes. The time taken depends on the lengths alone, never
// on where the first difference lies, so the password cannot be found out byte by byte.
static bool same_secret(const char *offered, const char *secret)
{
    const size_t offered_length = strlen(offered), secret_length = strlen(secret);
    unsigned difference = offered_length != secret_length;
    for (size_t i = 0; i < offered_length; i++)
        difference |= static_cast<unsigned char>(offered[i]) ^
                      static_cast<unsigned char>(secret[i < secret_length ? i : 0]);
    return difference == 0;
}

// The token of an Authorization value in the form "Bearer <token>", with spaces (not tabs) allowed
// before the scheme and after it; nullptr for any other form.
static const char *bearer_token(const char *authorization)
{
    constexpr std::string_view scheme = "Bearer ";
    while (*authorization == ' ')
        authorization++;
    if (strncmp(authorization, scheme.data(), scheme.size()) != 0)
        return nullptr;
    authorization += scheme.size();
    while (*authorization == ' ')
        authorization++;
    return authorization;
}

// Whether a request presents the node password, checked in the order the host documents: the
// X-Bot-Password header, a bearer token, then the first `pwd` parameter of the query string. Any
// of the three may be absent (nullptr).
static bool presents_node_password(const char *node_password, const char *password_header,
                                   const char *authorization, const char *query)
{
    if (password_header != nullptr && same_secret(password_header, node_password))
        return true;
    if (authorization != nullptr) {
        const char *token = bearer_token(authorization);
        if (token != nullptr && same_secret(token, node_password))
            return true;
    }
    char pwd[256];
    return get_query_val(query, "pwd", pwd, sizeof pwd) == 1 && same_secret(pwd, node_password);
}

// Returns when no node password is configured or the request presents it; otherwise writes the
// 401 answer and ends the process (the host reads the refusal from the Status line).
void require_node_auth()
{
    const char *node_password = environment_variable("BOT_PASSWORD");
    if (node_password == nullptr || node_password[0] == '\0')
        return;
    if (presents_node_password(node_password, environment_variable("HTTP_X_BOT_PASSWORD"),
                               environment_variable("HTTP_AUTHORIZATION"),
                               environment_variable("QUERY_STRING")))
        return;
    send_pieces(&refusal, 1);
    exit(exit_status);
}

/* ==== JSON endpoint ==== */

// Writes `text` as one JSON string literal; nullptr becomes "". Only '"', '\\' and control bytes
// are escaped: '/', 0x7F and every byte from 0x80 up pass unchanged, so UTF-8 stays UTF-8.
void json_str(const char *text)
{
    write_text("\"");
    if (text == nullptr) {
        write_text("\"");
        return;
    }
    const char *plain = text;
    for (const char *p = text; *p != '\0'; p++) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        write_text({plain, static_cast<size_t>(p - plain)});
        plain = p + 1;
        switch (c) {
        case '"': write_text("\\\""); break;
        case '\\': write_text("\\\\"); break;
        case '\t': write_text("\\t"); break;
        case '\n': write_text("\\n"); break;
        case '\r': write_text("\\r"); break;
        default: {
            constexpr char hex[] = "0123456789abcdef";
            const char escape[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
            write_text({escape, sizeof escape});
        }
        }
    }
    write_text(plain);
    write_text("\"");
}

static void write_info_record()
{
    const char *query = environment_variable("QUERY_STRING");
    char host_name[host_name_capacity];
    read_host_name(host_name);
    char utc[utc_capacity];
    format_utc_now(utc);

    write_text(info_record_start);
    write_text("\"hostname\":");
    json_str(host_name);
    write_text(",\"os\":");
    json_str(target_os);
    write_text(",\"arch\":");
    json_str(target_arch);
    write_text(",\"libc\":");
    json_str(target_libc);
    write_text(",\"pid\":");
    write_decimal(current_process_id());
    write_text(",\"utc\":");
    json_str(utc);
    write_text("},\"query_string\":");
    json_str(query);
    write_text(info_record_hints);
    write_text("}\n");
}

static void write_echo(const char *msg)
{
    write_text("{\"ok\":true,\"action\":\"echo\",\"msg\":");
    json_str(msg);
    write_text(",\"len\":");
    write_decimal(strlen(msg));
    write_text("}\n");
}

static void write_unknown_action(const char *action)
{
    write_text("{\"ok\":false,\"error\":\"unknown action\",\"action\":");
    json_str(action);
    write_text(",\"supported\":[\"info\",\"echo\"]}\n");
}

// Answers a JSON request: the info record for "info" (or no action), the echo answer for "echo",
// and an error object with `ok` false for any other action. Returns the exit status.
int mode_json(const char *query)
{
    char action[64], msg[512];
    get_query_val(query, "action", action, sizeof action);
    get_query_val(query, "msg", msg, sizeof msg);
    write_text(json_header);
    if (action[0] == '\0' || strcmp(action, "info") == 0)
        write_info_record();
    else if (strcmp(action, "echo") == 0)
        write_echo(msg);
    else
        write_unknown_action(action);
    return finish_output();
}

/* ==== Page writer ==== */
// The page is its header block and then the files in src/page/, each sent whole, in the order
// that PAGE_FILES in the Makefile lists them. The build makes each file an entry of page.inc, its
// name and its text, so every length is known to the compiler. No piece holds a double quote.

struct page_file {
    std::string_view name, text;
};

constexpr page_file page_files[] = {
#include "page.inc"
};

// The bar linking back to the host's front page, left out when the host embeds the page.
constexpr std::string_view back_bar_file = "back.html";

static_assert(std::size(page_files) < piece_capacity,
              "the page has more files than one write sends");

// Writes the page, in one write. Returns the exit status.
int mode_html(int embed)
{
    std::string_view pieces[piece_capacity] = {html_header};
    size_t count = 1;
    for (const page_file &file : page_files)
        if (embed == 0 || file.name != back_bar_file)
            pieces[count++] = file.text;
    send_pieces(pieces, count);
    return exit_status;
}

/* ==== Entry ==== */

static bool is_argument(const char *argument, std::string_view expected)
{
    return argument != nullptr && argument == expected;
}

int main(int argc, char **argv)
{
    prepare_output();
    const char *first_argument = argc > 1 ? argv[1] : nullptr;

    // The meta record wins over everything when the host asks for it through the environment.
    if (environment_variable("DV_PLUGIN_META") != nullptr ||
        is_argument(first_argument, "--meta")) {
        write_text(meta_record);
        return finish_output();
    }
    if (is_argument(first_argument, "--version") || is_argument(first_argument, "-v")) {
        write_text(version_line);
        return finish_output();
    }

    // Any other argument is ignored: the run is an HTTP request.
    require_node_auth();
    const char *query = environment_variable("QUERY_STRING");
    if (query != nullptr &&
        (strstr(query, "action=") != nullptr || strstr(query, "format=json") != nullptr))
        return mode_json(query);

    char embed[16];
    get_query_val(query, "embed", embed, sizeof embed);
    return mode_html(strcmp(embed, "1") == 0 || strcmp(embed, "true") == 0);
}
