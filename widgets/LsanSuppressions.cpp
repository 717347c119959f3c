// Builds with AddressSanitizer: fontconfig keeps a few caches for the life
// of the process and never frees them; they are not leaks of this program.
// Compiled into each GUI executable (a static library's object would not be
// linked, as nothing refers to it).
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif
