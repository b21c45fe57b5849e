// The platform layer of a Bot plugin: what differs from one operating system to another, and the
// path every answer takes to standard output. The plugin's own source includes it first, once. It
// is the kit's: every plugin made from this one has it unchanged, so a fix here reaches them all.
//
//   PLUGIN_NAME                    the plugin's name, which the build takes from the name of its
//                                  source file, src/plugin_NAME.cpp
//   target_os, target_arch, target_libc
//                                  what the build is for, as the info record names it
//   environment_variable(name)     a variable's value in UTF-8; nullptr when it is not set, and
//                                  unreadable_value when it is set but cannot be read whole
//   prepare_output()               sets standard output up; call it first
//   write_text, write_decimal      add to the answer, which leaves when the buffer is full
//   finish_output()                sends what the buffer holds; its result is the exit status
//   send_pieces(pieces, count)     sends fixed texts from where they lie, in one gathering write
//   read_host_name, current_process_id, format_utc_now
//                                  the node's facts
//
// The exit status tells the host whether the answer left whole: 1 when part of it could not be
// delivered for any reason but the reader having gone, 0 otherwise. Nothing goes to standard error.

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>

#if !defined(PLUGIN_NAME)
#error "PLUGIN_NAME is not defined: build with make, which takes it from src/plugin_NAME.cpp"
#endif

// The name stands in JSON strings, in the page's markup and script, and in a route: lower-case
// letters, digits and underscores, starting with a letter.
constexpr bool is_plugin_name(std::string_view name)
{
    if (name.empty() || name[0] < 'a' || name[0] > 'z')
        return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    return true;
}
static_assert(
    is_plugin_name(PLUGIN_NAME),
    "rename src/plugin_NAME.cpp: NAME is lower-case letters, digits and _, from a letter");

// The value environment_variable gives for a variable that is set but cannot be read whole. It
// reads as empty, and no comparison of secrets accepts it (the gate fails closed).
constexpr char unreadable_value[] = "";

constexpr size_t host_name_capacity = 256;

// The most pieces that one gathering write sends: the page's header block and its files.
constexpr size_t piece_capacity = 32;

#if defined(__x86_64__) || defined(_M_X64)
constexpr char target_arch[] = "x86_64";
#elif defined(__aarch64__)
constexpr char target_arch[] = "aarch64";
#elif defined(__arm__)
constexpr char target_arch[] = "arm";
#else
constexpr char target_arch[] = "unknown";
#endif

#if defined(_WIN32)
#include "win32.h"
#elif defined(PLATFORM_NO_LIBC)
#include "linux.h"
#else
#include "posix.h"
#endif

/* ==== Output ==== */
// The page and the refusal are fixed texts, sent from where they lie by send_pieces. A JSON answer
// is made in the output buffer, sent when the buffer is full and when the answer is done.

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

/* ==== The clock ==== */

constexpr size_t utc_capacity = 64;
constexpr char utc_fallback[] = "1970-01-01T00:00:00Z";

// The year, month and day of a count of days since 1970-01-01 in the proleptic Gregorian calendar
// (H. Hinnant's civil_from_days). The conversion is done here because a C library's UTC conversion
// may open the time-zone database, and a plugin reads no files.
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
