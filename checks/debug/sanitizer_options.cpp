// Linked into the sanitizer build (plugin_NAME-debug) only: the options its sanitizers start with,
// so that every report ends the run with a non-zero status whatever the environment holds. The
// black-box suite gives each run only the variables of its case, so ASAN_OPTIONS from the caller
// would not reach the program; an ASAN_OPTIONS or UBSAN_OPTIONS that is set still overrides these.
//
// strict_string_checks stays off: it makes every strchr over the query string measure the rest of
// the string first, which turns a long query of short segments into minutes of work.

extern "C" const char *__asan_default_options()
{
    return "halt_on_error=1:exitcode=86:detect_leaks=1:detect_stack_use_after_return=1:"
           "check_initialization_order=1:strict_init_order=1";
}

extern "C" const char *__ubsan_default_options() { return "halt_on_error=1:print_stacktrace=1"; }
