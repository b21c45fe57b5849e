// libFuzzer entry point for the plugin: runs whole requests in-process and checks each answer.
//
// The program's source is included as it is. Three names are redirected before it is read: its
// `main` becomes plugin_main, `writev` (the one call by which it writes an answer) appends to the
// answer captured in memory, and `exit` (which the gate calls after a refusal) jumps back here
// instead of ending the fuzzer. The program gets no branch of its own for this.
//
// One input is one request:
//   byte 0     which parts are present: 1 first argument, 2 QUERY_STRING, 4 BOT_PASSWORD,
//              8 HTTP_X_BOT_PASSWORD, 16 HTTP_AUTHORIZATION, 32 DV_PLUGIN_META (set, empty)
//   the rest   the first argument, the query string, the node password, the X-Bot-Password
//              header and the Authorization header, in this order, separated by NUL bytes;
//              missing fields are empty, bytes after the fifth NUL are ignored.
//
// Every answer must be exactly one of: the meta record, the version line, the 401 answer, one of
// the two pages, or the JSON header block and one line of compact, well-formed JSON opening with a
// boolean `ok`. Which one it is must agree with what the request asked for, the gate must never
// refuse the right password nor admit a request that plainly lacks it, an answer that fits the
// program's output buffer must leave in one write, and running the same request twice must give
// the same bytes, times aside. It knows no action and no answer's shape: those are the plugin's to
// change, and the suite's golden answers pin them.
//
// `make fuzz` builds it with clang (libFuzzer, ASan, UBSan) against the generated page texts in
// build/page/, naming the plugin's source in PLUGIN_SOURCE, and runs it from the seeds in
// checks/fuzz/corpus/, which checks/fuzz/seeds.sh writes.

#include <csetjmp>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <sys/uio.h>
#include <unistd.h>
#include <utility>
#include <vector>

static std::string fuzz_output;
static size_t fuzz_writes;
static jmp_buf fuzz_exit_point;
static int fuzz_exit_status;

static ssize_t fuzz_writev(int, const struct iovec *vectors, int count)
{
    size_t written = 0;
    for (int i = 0; i < count; i++) {
        fuzz_output.append(static_cast<const char *>(vectors[i].iov_base), vectors[i].iov_len);
        written += vectors[i].iov_len;
    }
    fuzz_writes++;
    return static_cast<ssize_t>(written);
}

[[noreturn]] static void fuzz_exit(int status)
{
    fuzz_exit_status = status;
    longjmp(fuzz_exit_point, 1);
}

#define main plugin_main
#define writev fuzz_writev
#define exit(status) fuzz_exit(status)
#include PLUGIN_SOURCE
#undef exit
#undef writev
#undef main

/* ==== Running one request ==== */

struct Request {
    std::string argument, query, node_password, password_header, authorization;
    bool has_argument = false, has_query = false, has_node_password = false;
    bool has_password_header = false, has_authorization = false, meta_in_environment = false;
};

static Request parse_request(const uint8_t *data, size_t size)
{
    Request request;
    if (size == 0)
        return request;
    const uint8_t flags = data[0];
    request.has_argument = flags & 1;
    request.has_query = flags & 2;
    request.has_node_password = flags & 4;
    request.has_password_header = flags & 8;
    request.has_authorization = flags & 16;
    request.meta_in_environment = flags & 32;
    std::string *fields[] = {&request.argument, &request.query, &request.node_password,
                             &request.password_header, &request.authorization};
    size_t field = 0;
    for (size_t i = 1; i < size && field < std::size(fields); i++) {
        if (data[i] == 0)
            field++;
        else
            fields[field]->push_back(static_cast<char>(data[i]));
    }
    // An absent part holds nothing, so the checks may read every field as the program sees it.
    const bool present[] = {request.has_argument, request.has_query, request.has_node_password,
                            request.has_password_header, request.has_authorization};
    for (size_t i = 0; i < std::size(fields); i++)
        if (!present[i])
            fields[i]->clear();
    return request;
}

// Runs the program's main once with exactly the request's environment; returns what it wrote.
// The environment is swapped whole rather than changed with setenv, which would keep every old
// value alive for the rest of the fuzzing run.
static std::string run_request(const Request &request)
{
    std::vector<std::string> variables;
    if (request.has_query)
        variables.push_back("QUERY_STRING=" + request.query);
    if (request.has_node_password)
        variables.push_back("BOT_PASSWORD=" + request.node_password);
    if (request.has_password_header)
        variables.push_back("HTTP_X_BOT_PASSWORD=" + request.password_header);
    if (request.has_authorization)
        variables.push_back("HTTP_AUTHORIZATION=" + request.authorization);
    if (request.meta_in_environment)
        variables.push_back("DV_PLUGIN_META=");
    std::vector<char *> environment;
    for (std::string &variable : variables)
        environment.push_back(variable.data());
    environment.push_back(nullptr);

    std::string program_name = "plugin_" PLUGIN_NAME, argument = request.argument;
    char *argv[] = {program_name.data(), request.has_argument ? argument.data() : nullptr, nullptr};
    const int argc = request.has_argument ? 2 : 1;

    fuzz_output.clear();
    fuzz_writes = 0;
    char **saved_environment = environ;
    environ = environment.data();
    int status;
    if (setjmp(fuzz_exit_point) == 0)
        status = plugin_main(argc, argv);
    else
        status = fuzz_exit_status;
    environ = saved_environment;
    if (status != 0) {
        fprintf(stderr, "exit status %d\n", status);
        abort();
    }
    if (fuzz_writes != 1 && fuzz_output.size() <= sizeof output_buffer) {
        fprintf(stderr, "an answer of %zu bytes left in %zu writes\n", fuzz_output.size(),
                fuzz_writes);
        abort();
    }
    return fuzz_output;
}

/* ==== A strict reader for the JSON answers ==== */
// Accepts only what the program may write: compact JSON (no whitespace between tokens), numbers in
// any form JSON allows, strings whose control bytes are escaped in the one form each has (\t \n \r,
// \u00xx for the rest), no other escapes, and bytes from 0x7F up passed through as they are.

struct Json {
    enum Kind { object, array, string, number, boolean, null } kind = null;
    std::string text;              // a string's decoded bytes, a number as written, "true"/"false"
    std::vector<std::string> keys; // an object's keys, in order, and their values
    std::vector<Json> values;      // an object's values or an array's elements

    const Json *member(std::string_view key) const
    {
        for (size_t i = 0; i < keys.size(); i++)
            if (keys[i] == key)
                return &values[i];
        return nullptr;
    }
};

class JsonReader {
  public:
    explicit JsonReader(std::string_view text) : text_(text) {}

    bool read_document(Json &value) { return read_value(value, 0) && at_ == text_.size(); }

  private:
    std::string_view text_;
    size_t at_ = 0;

    bool take(char c)
    {
        if (at_ < text_.size() && text_[at_] == c) {
            at_++;
            return true;
        }
        return false;
    }

    bool take_word(std::string_view word)
    {
        if (text_.substr(at_, word.size()) != word)
            return false;
        at_ += word.size();
        return true;
    }

    bool read_value(Json &value, int depth)
    {
        if (depth > 8 || at_ >= text_.size())
            return false;
        switch (text_[at_]) {
        case '{': return read_object(value, depth);
        case '[': return read_array(value, depth);
        case '"': value.kind = Json::string; return read_string(value.text);
        case 't': value.kind = Json::boolean, value.text = "true"; return take_word("true");
        case 'f': value.kind = Json::boolean, value.text = "false"; return take_word("false");
        case 'n': value.kind = Json::null; return take_word("null");
        default: value.kind = Json::number; return read_number(value.text);
        }
    }

    bool read_object(Json &value, int depth)
    {
        value.kind = Json::object;
        take('{');
        if (take('}'))
            return true;
        do {
            std::string key;
            Json member;
            if (!read_string(key) || !take(':') || !read_value(member, depth + 1))
                return false;
            if (value.member(key) != nullptr)
                return false;
            value.keys.push_back(std::move(key));
            value.values.push_back(std::move(member));
        } while (take(','));
        return take('}');
    }

    bool read_array(Json &value, int depth)
    {
        value.kind = Json::array;
        take('[');
        if (take(']'))
            return true;
        do {
            Json element;
            if (!read_value(element, depth + 1))
                return false;
            value.values.push_back(std::move(element));
        } while (take(','));
        return take(']');
    }

    // Whether at least one decimal digit follows; takes them all.
    bool take_digits()
    {
        const size_t start = at_;
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9')
            at_++;
        return at_ > start;
    }

    // Any number JSON's grammar allows, as the plugin may write it: an optional minus, an integer
    // part without leading zeros, then an optional fraction and exponent (4.90, -0, 12.5E-3).
    bool read_number(std::string &written)
    {
        const size_t start = at_;
        take('-');
        if (!take('0') && !(at_ < text_.size() && text_[at_] >= '1' && take_digits()))
            return false;
        if (take('.') && !take_digits())
            return false;
        if (take('e') || take('E')) {
            if (!take('+'))
                take('-');
            if (!take_digits())
                return false;
        }
        written = std::string(text_.substr(start, at_ - start));
        return true;
    }

    static int hex_value(char c)
    {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1; // the writer uses lower-case digits only
    }

    bool read_string(std::string &bytes)
    {
        if (!take('"'))
            return false;
        for (;;) {
            if (at_ >= text_.size())
                return false;
            const unsigned char c = static_cast<unsigned char>(text_[at_++]);
            if (c == '"')
                return true;
            if (c < 0x20)
                return false; // a raw control byte
            if (c != '\\') {
                bytes.push_back(static_cast<char>(c));
                continue;
            }
            if (at_ >= text_.size())
                return false;
            switch (text_[at_++]) {
            case '"': bytes.push_back('"'); break;
            case '\\': bytes.push_back('\\'); break;
            case 't': bytes.push_back('\t'); break;
            case 'n': bytes.push_back('\n'); break;
            case 'r': bytes.push_back('\r'); break;
            case 'u': {
                if (text_.substr(at_, 2) != "00" || at_ + 4 > text_.size())
                    return false;
                const int high = hex_value(text_[at_ + 2]), low = hex_value(text_[at_ + 3]);
                at_ += 4;
                if (high < 0 || low < 0)
                    return false;
                const int byte = high << 4 | low;
                // Only the control bytes without a short form are written this way; NUL never is.
                if (byte == 0 || byte >= 0x20 || byte == '\t' || byte == '\n' || byte == '\r')
                    return false;
                bytes.push_back(static_cast<char>(byte));
                break;
            }
            default: return false; // \/, \b, \f and anything else are never written
            }
        }
    }
};

/* ==== What every answer must satisfy ==== */

[[noreturn]] static void fail(const char *what, std::string_view output)
{
    fprintf(stderr, "\nfuzz_request: %s\nanswer (%zu bytes): ", what, output.size());
    fwrite(output.data(), 1, output.size() < 600 ? output.size() : 600, stderr);
    fputc('\n', stderr);
    abort();
}

static void require(bool condition, const char *what, std::string_view output)
{
    if (!condition)
        fail(what, output);
}

// The two pages, taken from real runs at start-up: every page answer must be one of them.
static std::string full_page, embedded_page;

// Whether `text` at `at` is a quoted time of the form "YYYY-MM-DDTHH:MM:SSZ".
static bool is_quoted_utc(std::string_view text, size_t at)
{
    constexpr std::string_view form = "\"dddd-dd-ddTdd:dd:ddZ\"";
    if (text.size() - at < form.size())
        return false;
    for (size_t i = 0; i < form.size(); i++)
        if (form[i] == 'd' ? text[at + i] < '0' || text[at + i] > '9' : text[at + i] != form[i])
            return false;
    return true;
}

// Whether `text` is well-formed UTF-8: no stray continuation byte, no overlong form, no surrogate
// and nothing above U+10FFFF. A JSON text is UTF-8, whatever bytes the request held.
static bool is_utf8(std::string_view text)
{
    static constexpr uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    for (size_t at = 0; at < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[at]);
        const size_t length = lead < 0x80           ? 1
                              : (lead >> 5) == 0x06 ? 2
                              : (lead >> 4) == 0x0E ? 3
                              : (lead >> 3) == 0x1E ? 4
                                                    : 0;
        if (length == 0 || text.size() - at < length)
            return false;
        uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t i = 1; i < length; i++) {
            const unsigned char next = static_cast<unsigned char>(text[at + i]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = code << 6 | (next & 0x3F);
        }
        if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        at += length;
    }
    return true;
}

// Checks one JSON answer body (one line, its line feed removed): strict JSON in UTF-8, an object
// whose first member is a boolean `ok`. The answers' shapes are the plugin's own business; the form
// is what the host and the page rely on.
static void check_json_answer(std::string_view body, std::string_view output)
{
    Json answer;
    require(JsonReader(body).read_document(answer), "the JSON answer is not strict JSON", output);
    require(is_utf8(body), "the JSON answer is not UTF-8", output);
    require(answer.kind == Json::object && !answer.keys.empty() && answer.keys[0] == "ok" &&
                answer.values[0].kind == Json::boolean,
            "the JSON answer does not open with ok", output);
}

// Checks one answer; returns it with any time in it masked, since the clock moves between runs.
static std::string check_answer(const std::string &output, const Request &request)
{
    const bool meta =
        request.meta_in_environment || (request.has_argument && request.argument == "--meta");
    const bool version = !meta && request.has_argument &&
                         (request.argument == "--version" || request.argument == "-v");
    if (meta || version) {
        require(output == (meta ? meta_record : version_line),
                meta ? "not the meta record" : "not the version line", output);
        return output;
    }

    // Which requests the gate must refuse or admit, as far as that follows plainly from them: a
    // bearer token runs to the end of the header, and a pwd parameter needs the text "pwd=".
    const std::string &password = request.node_password;
    const bool locked = request.has_node_password && !password.empty();
    const bool header_matches = request.has_password_header && request.password_header == password;
    const bool bearer_matches = request.has_authorization && locked && password[0] != ' ' &&
                                request.authorization == "Bearer " + password;
    const bool pwd_matches = locked && request.has_query && password.size() <= 255 &&
                             password.find_first_of("%+&") == std::string::npos &&
                             request.query == "pwd=" + password;
    const bool bearer_may_match =
        request.has_authorization && request.authorization.size() >= password.size() &&
        request.authorization.compare(request.authorization.size() - password.size(),
                                      std::string::npos, password) == 0;
    const bool pwd_may_match = request.has_query && request.query.find("pwd=") != std::string::npos;
    if (output == refusal) {
        require(locked, "refused without a node password", output);
        require(!header_matches && !bearer_matches && !pwd_matches, "refused a right password",
                output);
        return output;
    }
    require(!locked || header_matches || bearer_may_match || pwd_may_match,
            "admitted a request without the password", output);

    const bool json = request.has_query && (request.query.find("action=") != std::string::npos ||
                                            request.query.find("format=json") != std::string::npos);
    if (!json) {
        require(output == full_page || output == embedded_page, "not one of the two pages", output);
        // Without an embed parameter the back bar shows; a plain one hides it for "1" and "true".
        constexpr std::string_view embed_prefix = "embed=";
        if (request.query.find(embed_prefix) == std::string::npos)
            require(output == full_page, "embedded page without embed", output);
        else if (request.query.starts_with(embed_prefix) &&
                 request.query.find_first_of("%+&") == std::string::npos) {
            const std::string value = request.query.substr(embed_prefix.size(), 15);
            require((output == embedded_page) == (value == "1" || value == "true"),
                    "a plain embed value chose the wrong page", output);
        }
        return output;
    }
    require(output.compare(0, json_header.size(), json_header) == 0, "no JSON header block",
            output);
    std::string_view body(output);
    body.remove_prefix(json_header.size());
    require(!body.empty() && body.back() == '\n' && body.find('\n') == body.size() - 1,
            "the JSON answer is not exactly one line", output);
    body.remove_suffix(1);
    check_json_answer(body, output);
    std::string masked = output;
    for (size_t at = 0; at < masked.size(); at++)
        if (is_quoted_utc(masked, at))
            masked.replace(at + 1, 20, 20, '#');
    return masked;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Request page;
    page.has_query = true;
    full_page = run_request(page);
    page.query = "embed=1";
    embedded_page = run_request(page);
    if (full_page.size() != embedded_page.size() + page::back_html.size() ||
        full_page.compare(0, html_header.size(), html_header) != 0) {
        fprintf(stderr, "fuzz_request: the pages taken at start-up are not what they should be\n");
        abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Request request = parse_request(data, size);
    const std::string first = run_request(request);
    const std::string masked = check_answer(first, request);
    const std::string second = run_request(request);
    if (check_answer(second, request) != masked)
        fail("the same request gave different answers", second);
    return 0;
}
