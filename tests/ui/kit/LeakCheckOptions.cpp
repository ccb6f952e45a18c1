// LeakSanitizer's options for this suite when it runs under AddressSanitizer: the image plugins Qt
// loads and unloads leave dynamic thread-local blocks that LeakSanitizer crashes reading, so it does
// not scan thread-local storage here (scripts/sanitizers/lsan.supp names what that leaves looking
// unreferenced). Unused in other builds.
extern "C" const char* __lsan_default_options();
extern "C" __attribute__((used)) const char* __lsan_default_options() {
    return "use_tls=0";
}
