// Linked into every executable of a ThreadSanitizer build: the first report ends the process,
// also when a test starts it with an environment of its own (no TSAN_OPTIONS).
extern "C" const char* __tsan_default_options() {
    return "halt_on_error=1:second_deadlock_stack=1";
}

// The HTTP library formats its Date header with gmtime() on several worker threads at once.
// The shared buffer can at worst garble that header, which Prometheus does not read; the
// library is not built here, so its call cannot be changed.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libcivetweb.so\n";
}
