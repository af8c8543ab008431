#include <windows.h>

#include <cstring>

#include "platform.h"
#include "wide_text.h"

void* plat_module_handle_of(const void* address) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<LPCWSTR>(address), &module)) {
        return nullptr;
    }
    return module;
}

bool plat_module_path(void* moduleHandle, char* out, size_t capacity) {
    if (capacity == 0) return false;
    out[0] = '\0';
    if (moduleHandle == nullptr) return false;
    // The path in UTF-16, as the file system has it: the 8-bit form would turn every
    // character outside the ANSI code page into "?". One more unit than asked for tells a
    // path that fills the buffer exactly from one that was cut.
    wchar_t path[MAX_PATH + 2];
    DWORD length = GetModuleFileNameW(static_cast<HMODULE>(moduleHandle), path, MAX_PATH + 2);
    if (length == 0 || length >= MAX_PATH + 2) return false;
    const std::string utf8 = utf8_from_wide(std::wstring_view(path, length));
    if (utf8.empty() || utf8.size() + 1 > capacity) return false;
    memcpy(out, utf8.c_str(), utf8.size() + 1);
    return true;
}
