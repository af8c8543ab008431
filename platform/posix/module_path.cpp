#include <dlfcn.h>
#include <unistd.h>

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
    if (moduleHandle == nullptr || dladdr(moduleHandle, &info) == 0 || info.dli_fname == nullptr ||
        info.dli_fname[0] == '\0')
        return false;
    const char* name = info.dli_fname;
    size_t length = strlen(name);
    size_t folderLength = 0;
    if (name[0] != '/') {
        // Loaded by a relative path: it names the file only from the current folder, which
        // the host may change later. No link is resolved, so a link to the module keeps
        // the module's files beside the link.
        if (getcwd(out, capacity) == nullptr) {
            out[0] = '\0';
            return false;
        }
        folderLength = strlen(out);
        if (folderLength > 0 && out[folderLength - 1] != '/') out[folderLength++] = '/';
    }
    if (folderLength + length + 1 > capacity) {
        out[0] = '\0';
        return false;
    }
    memcpy(out + folderLength, name, length + 1);
    return true;
}
