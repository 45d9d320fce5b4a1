// Qt is not built with ThreadSanitizer: its own accesses, and the futex-based locks they are
// ordered by, are invisible to it. Judge only the accesses of our instrumented code.
extern "C" const char* __tsan_default_options() {
    return "ignore_noninstrumented_modules=1";
}
