// A plugin for the Bot host, and the reference from which plugins of its kind are made.
//
// The host runs this executable once per HTTP request, CGI-style: the request's query string and a
// few of its headers arrive in environment variables, and what the program writes on standard
// output (header lines, an empty line, a body) goes back to the browser as the response. One run
// answers one question:
//
//   plugin_NAME --meta            the meta record, by which the host lists the plugin
//   plugin_NAME --version | -v    the version line
//   QUERY_STRING='action=info'    a JSON answer: "info" (live node facts) or "echo"
//   QUERY_STRING=''               the themed page, whose script calls the JSON answers back
//
// When the host configures a node password (BOT_PASSWORD), every HTTP request must present it.
//
// This file is the plugin's own: its texts, its actions and its page. Its name is this file's
// name, src/plugin_NAME.cpp, from which the build makes PLUGIN_NAME and the executable's name. What
// differs between operating systems, and the output every answer takes, is the platform layer in
// platform/, which no plugin changes. The page's texts are the files in src/page/.
//
// The program reads nothing but its arguments and its environment, never touches the heap and
// writes nothing on standard error. Failures are answers, not errors: the exit status is 0, and 1
// only when the answer could not be delivered whole.

#include "platform.h"

/* ==== Fixed texts ==== */

// The version stands in the version line, the info record and the page's top bar (src/page/).
#define PLUGIN_VERSION "1.1.0"

constexpr std::string_view meta_record =
    "{\"name\":\"" PLUGIN_NAME "\",\"desc\":\"Starter demo\"}\n";
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

static_assert(json_header.size() == 107,
              "json_header changed: the host's JSON header block is 107 bytes");
static_assert(html_header.size() == 100,
              "html_header changed: the host's HTML header block is 100 bytes");
static_assert(refusal.size() == 178, "refusal changed: the host's 401 answer is 178 bytes");

constexpr std::string_view info_record_start =
    "{\"ok\":true,\"plugin\":\"plugin_" PLUGIN_NAME "\",\"slug\":\"" PLUGIN_NAME
    "\",\"version\":\"" PLUGIN_VERSION "\",\"node\":{";

// Hints for a developer who runs the plugin by hand; the install text ends with a space.
constexpr std::string_view info_record_hints =
    ",\"hints\":{"
    "\"next_step\":\"Edit src/plugin_" PLUGIN_NAME ", then run `make` (or `make musl win64`)\","
    "\"install\":\"cp plugin_" PLUGIN_NAME " ~/.dorvanel/plugins/ \","
    "\"docs\":\"See README.md for the 3-mode contract and the fork workflow\","
    "\"verify\":\"plugin_" PLUGIN_NAME " --meta && QUERY_STRING='action=info' plugin_" PLUGIN_NAME
    "\"}";

/* ==== The request ==== */

// What the host passes in the environment, read once, at the start of main. Either may be absent
// (nullptr). The credentials matter only behind a node password, so the gate reads them.
static struct {
    const char *query;         // QUERY_STRING, raw
    const char *node_password; // BOT_PASSWORD
} request_env;

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
static int get_query_val(const char *query, const char *key, char *out, size_t capacity)
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
// on where the first difference lies, so the password cannot be found out byte by byte. A value
// that could not be read whole is the same as nothing: an over-long password or credential closes
// the gate rather than opening it.
static bool same_secret(const char *offered, const char *secret)
{
    if (offered == unreadable_value || secret == unreadable_value)
        return false;
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

// Whether the request presents the node password, checked in the order the host documents: the
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
// 401 answer and ends the process (the host reads the refusal from the Status line). A password
// that is set but could not be read whole still asks for one, which nothing then matches.
static void require_node_auth()
{
    const char *node_password = request_env.node_password;
    if (node_password == nullptr || (node_password[0] == '\0' && node_password != unreadable_value))
        return;
    if (presents_node_password(node_password, environment_variable("HTTP_X_BOT_PASSWORD"),
                               environment_variable("HTTP_AUTHORIZATION"), request_env.query))
        return;
    send_pieces(&refusal, 1);
    exit(exit_status);
}

/* ==== JSON endpoint ==== */

// The length of the well-formed UTF-8 sequence that `text` opens with (2 to 4 bytes: its first
// byte is 0x80 or above), or 0 when it opens with an ill-formed one, whose maximal subpart (the
// lead byte and the continuation bytes that still fit it, 1 to 3 bytes) is then left in
// `*ill_formed`. `text` ends with a NUL, which no continuation byte matches.
static size_t utf8_sequence(const unsigned char *text, size_t *ill_formed)
{
    const unsigned char lead = text[0];
    size_t continuations;
    unsigned char lowest = 0x80, highest = 0xBF; // for the first continuation byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        continuations = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        continuations = 2;
        lowest = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        highest = lead == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        continuations = 3;
        lowest = lead == 0xF0 ? 0x90 : 0x80;  // no overlong forms
        highest = lead == 0xF4 ? 0x8F : 0xBF; // nothing above U+10FFFF
    } else {
        *ill_formed = 1;
        return 0;
    }
    for (size_t i = 1; i <= continuations; i++) {
        if (text[i] < lowest || text[i] > highest) {
            *ill_formed = i;
            return 0;
        }
        lowest = 0x80;
        highest = 0xBF;
    }
    return continuations + 1;
}

// Writes `text` as one JSON string literal; nullptr becomes "". Only '"', '\\' and control bytes
// are escaped: '/', 0x7F and every well-formed UTF-8 sequence pass unchanged. A request may hold
// bytes that are not UTF-8 (a percent-encoded 0xFF, a value cut inside a character), and a JSON
// text is UTF-8: each maximal ill-formed subpart becomes one U+FFFD, as a browser decodes it.
static void json_str(const char *text)
{
    constexpr std::string_view replacement = "\xEF\xBF\xBD"; // U+FFFD
    write_text("\"");
    if (text == nullptr) {
        write_text("\"");
        return;
    }
    const char *plain = text;
    for (const char *p = text; *p != '\0';) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c >= 0x80) {
            size_t ill_formed = 0;
            const size_t length =
                utf8_sequence(reinterpret_cast<const unsigned char *>(p), &ill_formed);
            if (length > 0) {
                p += length;
                continue;
            }
            write_text({plain, static_cast<size_t>(p - plain)});
            write_text(replacement);
            p += ill_formed;
            plain = p;
            continue;
        }
        p++;
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        write_text({plain, static_cast<size_t>(p - 1 - plain)});
        plain = p;
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

static void write_info_record(const char *query)
{
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
static int mode_json(const char *query)
{
    char action[64], msg[512];
    get_query_val(query, "action", action, sizeof action);
    get_query_val(query, "msg", msg, sizeof msg);
    write_text(json_header);
    if (action[0] == '\0' || strcmp(action, "info") == 0)
        write_info_record(query);
    else if (strcmp(action, "echo") == 0)
        write_echo(msg);
    else
        write_unknown_action(action);
    return finish_output();
}

/* ==== Page writer ==== */
// The page is its header block and then the files in src/page/, each sent whole as one piece of
// one gathering write. The build makes each file a text in page.inc, page::NAME_EXTENSION
// (style.css is page::style_css), whose length the compiler knows; it stops, naming the file, when
// a file in src/page/ is not sent below. No piece holds a double quote.

namespace page {
#include "page.inc"
}

// Writes the page; the bar linking back to the host's front page is left out when the host embeds
// it. Returns the exit status.
static int mode_html(int embed)
{
    const std::string_view pieces[] = {
        html_header,
        page::head_html,
        page::style_css,
        page::body_html,
        embed == 0 ? page::back_html : "",
        page::top_html,
        page::node_html,
        page::echo_html,
        page::guide_html,
        page::script_js,
        page::end_html,
    };
    static_assert(sizeof pieces / sizeof pieces[0] <= piece_capacity,
                  "the page has more pieces than one gathering write sends (piece_capacity)");
    send_pieces(pieces, sizeof pieces / sizeof pieces[0]);
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
    request_env = {environment_variable("QUERY_STRING"), environment_variable("BOT_PASSWORD")};
    require_node_auth();
    const char *query = request_env.query;
    if (query != nullptr &&
        (strstr(query, "action=") != nullptr || strstr(query, "format=json") != nullptr))
        return mode_json(query);

    char embed[16];
    get_query_val(query, "embed", embed, sizeof embed);
    return mode_html(strcmp(embed, "1") == 0 || strcmp(embed, "true") == 0);
}
