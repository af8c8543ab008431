#include <windows.h>

#include "platform.h"
#include "wide_text.h"

namespace {

// A plain file: on a disk, not a folder, not a reparse point (a symbolic link or a
// junction, opened as itself), and with no other hard link whose file would be emptied.
bool IsPlainFile(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info))
        return false;
    const DWORD refused = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    return (info.dwFileAttributes & refused) == 0 && info.nNumberOfLinks == 1;
}

bool Truncate(HANDLE file, LONGLONG size) {
    LARGE_INTEGER position;
    position.QuadPart = size;
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

}  // namespace

intptr_t plat_log_file_open(const char* path, bool append) {
    const std::wstring widePath = path != nullptr ? wide_from_utf8(path) : std::wstring();
    if (widePath.empty()) return -1;
    // Readers may look at the log while an entry is written; other writers may not. The
    // file is created if missing but emptied only after the checks on the opened handle.
    HANDLE file =
        CreateFileW(widePath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    if (!IsPlainFile(file) || (!append && !Truncate(file, 0))) {
        CloseHandle(file);
        return -1;
    }
    return reinterpret_cast<intptr_t>(file);
}

bool plat_log_file_append(intptr_t file, const char* data, size_t size) {
    HANDLE handle = reinterpret_cast<HANDLE>(file);
    LARGE_INTEGER start;
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    if (!SetFilePointerEx(handle, zero, &start, FILE_END)) return false;
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(handle, data, static_cast<DWORD>(size), &written, nullptr) || written == 0) {
            // A full disk: take back the part that was written, so that the next entry
            // does not start in the middle of this one.
            Truncate(handle, start.QuadPart);
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

void plat_log_file_close(intptr_t file) {
    // The entry is written or lost by now; a failing close changes nothing for the caller.
    CloseHandle(reinterpret_cast<HANDLE>(file));
}
