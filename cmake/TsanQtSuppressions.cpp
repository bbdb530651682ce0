// Linked into the programs and tests of the ThreadSanitizer build only.
//
// Debian's Qt is not built with ThreadSanitizer. Qt's own threads (the thread
// pool Qt Gui converts and scales images on, the posted-event queue) hand
// memory and lock objects to one another through futexes inside Qt, which
// ThreadSanitizer cannot see, so the allocations, copies and frees made by
// Qt's code look unordered. Only the calls made from inside these libraries
// are ignored; every access of our own code is still checked.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so\n"
           "called_from_lib:libQt6Gui.so\n";
}
