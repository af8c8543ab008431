#include <dlfcn.h>
#include <pthread.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

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

void* plat_library_loaded(const char* fileName) {
    return fileName != nullptr ? dlopen(fileName, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD) : nullptr;
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

void* plat_library_open_file(const char* path) {
    if (path == nullptr || *path == '\0') {
        KeepError("no plug-in file named");
        return nullptr;
    }
    struct stat status;
    if (stat(path, &status) != 0) {
        KeepError(strerror(errno));
        return nullptr;
    }
    if (!S_ISREG(status.st_mode)) {
        KeepError("not a regular file");
        return nullptr;
    }
    // dlopen searches the library path for a name without a slash.
    const std::string file = strchr(path, '/') != nullptr ? path : std::string("./") + path;
    return plat_library_open(file.c_str());
}

void plat_pin_module_of(const void* address) {
    Dl_info info;
    if (address == nullptr || dladdr(address, &info) == 0 || info.dli_fname == nullptr) return;
    // The reference taken here is never released, and RTLD_NODELETE keeps the module
    // mapped even past a dlclose of every other reference.
    dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

void plat_at_fork(void (*prepare)(), void (*parent)(), void (*child)()) {
    pthread_atfork(prepare, parent, child);
}
