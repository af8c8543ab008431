#include <dlfcn.h>

#include <cstdio>
#include <cstring>

#include "platform.h"

namespace {
thread_local char t_libraryError[512] = "";

void KeepError(const char* text) {
    snprintf(t_libraryError, sizeof t_libraryError, "%s", text != nullptr ? text : "unknown error");
}
}  // namespace

void* plat_library_open(const char* fileName) {
    if (fileName == nullptr) {
        KeepError("no library name");
        return nullptr;
    }
    void* library = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) KeepError(dlerror());
    return library;
}

PlatFunction plat_library_symbol(void* library, const char* name) {
    if (library == nullptr || name == nullptr) return nullptr;
    void* address = dlsym(library, name);
    PlatFunction function;
    static_assert(sizeof function == sizeof address, "function and data pointers differ");
    memcpy(&function, &address, sizeof function);
    return function;
}

void plat_library_close(void* library) {
    // Nothing useful can be done when unloading fails; the library just stays mapped.
    if (library != nullptr) dlclose(library);
}

const char* plat_library_error() {
    return t_libraryError;
}

bool plat_main_module_exports(const char* name) {
    void* mainProgram = dlopen(nullptr, RTLD_LAZY);
    if (mainProgram == nullptr) return false;
    bool found = dlsym(mainProgram, name) != nullptr;
    dlclose(mainProgram);
    return found;
}
