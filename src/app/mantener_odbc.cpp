// Sanitizer builds only. The ODBC driver manager unloads a driver (and the installer library
// it brings) when its last connection closes; what they allocated and never freed is then
// reported by LeakSanitizer against an unknown module, which no suppression can name. Kept
// loaded, their leaks carry their library's name and the suppressions for them apply.
#include <dlfcn.h>
#include <initializer_list>

namespace {
const bool mantenidos = [] {
    for (const char* biblioteca : {"libodbcinst.so.2", "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so",
                                   "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so"})
        (void)dlopen(biblioteca, RTLD_NOW | RTLD_NODELETE);
    return true;
}();
} // namespace
