// A tiny shared library for the dynamic-loading test.
extern "C" __attribute__((visibility("default"))) int pixolund_probe_answer() {
    return 42;
}
