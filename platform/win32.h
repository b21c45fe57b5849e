// The platform layer on Windows (x86-64, built with MinGW-w64): included by platform.h.

#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <windows.h>

constexpr char target_os[] = "windows";
constexpr char target_libc[] = "native";

// Windows keeps the environment in UTF-16, and the C runtime's getenv would hand it over through
// the ANSI code page, which differs from node to node and cannot hold most of Unicode. Each
// variable is read in UTF-16 instead and converted to UTF-8 once, so that every build sees the same
// bytes for the same text. A variable holds at most 32,767 UTF-16 units, its NUL included, and a
// unit is at most three bytes of UTF-8.
constexpr size_t variable_units = 32767;
// The plugin reads five variables, each once; a fork may read three more.
constexpr size_t variable_capacity = 8;

static char variable_values[variable_capacity][variable_units * 3];
static size_t variables_read;

// The variable's value in UTF-8, or nullptr when it is not set. A value longer than Windows allows
// (only Wine passes one on, from Linux), or a variable past the capacity, cannot be read whole and
// gives unreadable_value, which matches no secret.
static const char *environment_variable(const char *name)
{
    wchar_t wide_name[64];
    static wchar_t wide_value[variable_units];
    MultiByteToWideChar(CP_UTF8, 0, name, -1, wide_name, std::size(wide_name));
    SetLastError(ERROR_SUCCESS);
    const DWORD units = GetEnvironmentVariableW(wide_name, wide_value, variable_units);
    if (units == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
        return nullptr;
    if (units >= variable_units || variables_read == variable_capacity)
        return unreadable_value;
    char *value = variable_values[variables_read++];
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide_value, units, value,
                                         sizeof variable_values[0] - 1, nullptr, nullptr);
    value[size] = '\0';
    return value;
}

// The C runtime starts standard output in text mode, which would turn every "\r\n" of a header
// block into "\r\r\n", a malformed CGI header line. Binary mode sends the bytes as written, and
// without a buffer of the stream's own each piece goes straight to the descriptor.
static void prepare_output()
{
    _setmode(_fileno(stdout), _O_BINARY);
    setvbuf(stdout, nullptr, _IONBF, 0);
}

// Writes the pieces to standard output in order, one write each. Returns false when part of them
// could not be delivered for any reason but the reader having gone (a pipe closed at its far end,
// which Windows reports in one of three ways) or standard output not being open (EBADF).
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
