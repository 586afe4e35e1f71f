// Leaks that the system libraries under Qt keep for the life of the process
// (font configuration, the X and D-Bus client libraries). Built into every
// test program, so the suppressions hold however the tests are started.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n"
           "leak:libQt6\n"
           "leak:libdbus\n"
           "leak:libX11\n"
           "leak:libxcb\n";
}
