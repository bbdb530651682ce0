// Sanitizer settings every test program carries, so that a test run needs no
// environment of its own.
extern "C" {

const char* __asan_default_options() { return "detect_leaks=1:abort_on_error=0"; }

const char* __ubsan_default_options() { return "print_stacktrace=1:halt_on_error=1"; }

// Leaks inside system libraries the widget tests load (fonts, Qt platform plugins).
const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n"
           "leak:libQt6Gui\n"
           "leak:libQt6Core\n"
           "leak:libglib\n"
           "leak:libdbus\n";
}
}
