// Linked into every executable of a ThreadSanitizer build: the first report ends the process,
// also when a test starts it with an environment of its own (no TSAN_OPTIONS).
extern "C" const char* __tsan_default_options() {
    return "halt_on_error=1:second_deadlock_stack=1";
}
