#include <dlfcn.h>

#include <cstring>

#include "platform.h"

// On POSIX the handle is an address inside the module; dladdr names the file that holds it.
void* plat_module_handle_of(const void* address) {
    return const_cast<void*>(address);
}

bool plat_module_path(void* moduleHandle, char* out, size_t capacity) {
    if (capacity == 0) return false;
    out[0] = '\0';
    Dl_info info;
    if (moduleHandle == nullptr || dladdr(moduleHandle, &info) == 0 || info.dli_fname == nullptr)
        return false;
    size_t length = strlen(info.dli_fname);
    if (length + 1 > capacity) return false;
    memcpy(out, info.dli_fname, length + 1);
    return true;
}
