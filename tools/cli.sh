# The one way every command of the kit in the shell takes its arguments, asks for help and fails,
# as tools/cli.js does for those in Node.js. A command sets USAGE and NAME, sources this file, and
# calls cli_help "$@" before it starts any work:
#   --help, -h        the usage on standard output, exit status 0, and nothing started
#   a wrong option    cli_wrong "what": the usage on standard error, exit status 2
#   a failure         cli_fail "what": "NAME: what" on standard error, exit status 1

cli_help() {
    case "${1-}" in
    -h | --help) printf '%s\n' "$USAGE"; exit 0 ;;
    esac
}

cli_wrong() {
    printf '%s: %s\n%s\n' "$NAME" "$1" "$USAGE" >&2
    exit 2
}

cli_fail() {
    printf '%s: %s\n' "$NAME" "$1" >&2
    exit 1
}
