// The sanitizer runtimes' options in a LATHMARK_SANITIZE build. They are compiled into every
// program of that build rather than set in the environment of the tests, so that they hold
// however a program starts: listed by the test discovery during the build, run by ctest, run
// by a test (lathmark-count), or run by hand. ASAN_OPTIONS and UBSAN_OPTIONS in the
// environment still apply on top of them.
//
// A finding ends the program with status 23, which none of our programs uses: the tests of
// lathmark-count expect its own statuses 1 and 2, and a finding must not pass for one of them.

extern "C" {

// AddressSanitizer, with the leak check at exit and a check that no global is used before
// its initialiser in another file has run.
__attribute__((visibility("default"), used)) const char* __asan_default_options() {
    return "detect_leaks=1:halt_on_error=1:check_initialization_order=1:strict_init_order=1:"
           "exitcode=23";
}

// UndefinedBehaviorSanitizer: with GCC a runtime of its own, which reads only these.
__attribute__((visibility("default"), used)) const char* __ubsan_default_options() {
    return "halt_on_error=1:print_stacktrace=1:exitcode=23";
}
}
