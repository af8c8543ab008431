#include <windows.h>

#include <cstring>

#include "platform.h"

void* plat_module_handle_of(const void* address) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<LPCSTR>(address), &module)) {
        return nullptr;
    }
    return module;
}

bool plat_module_path(void* moduleHandle, char* out, size_t capacity) {
    if (capacity == 0) return false;
    out[0] = '\0';
    if (moduleHandle == nullptr) return false;
    // One more character than asked for tells a path that fills the buffer exactly from
    // one that was cut.
    char path[MAX_PATH + 2];
    DWORD length = GetModuleFileNameA(static_cast<HMODULE>(moduleHandle), path, sizeof path);
    if (length == 0 || length >= sizeof path || length + 1 > capacity) return false;
    memcpy(out, path, length + 1);
    return true;
}
