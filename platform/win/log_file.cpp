#include <windows.h>

#include "platform.h"

intptr_t plat_log_file_open(const char* path, bool append) {
    HANDLE file = INVALID_HANDLE_VALUE;
    // Readers may look at the log while an entry is written; other writers may not.
    if (append) {
        file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (file == INVALID_HANDLE_VALUE) {
        file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    return file == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(file);
}

bool plat_log_file_append(intptr_t file, const char* data, size_t size) {
    HANDLE handle = reinterpret_cast<HANDLE>(file);
    if (SetFilePointer(handle, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR) {
        return false;
    }
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(handle, data, static_cast<DWORD>(size), &written, nullptr) || written == 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

void plat_log_file_close(intptr_t file) {
    // The entry is written or lost by now; a failing close changes nothing for the caller.
    CloseHandle(reinterpret_cast<HANDLE>(file));
}
