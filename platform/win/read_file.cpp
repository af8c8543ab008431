#include <windows.h>

#include "platform.h"
#include "wide_text.h"

namespace {

bool ReadAll(HANDLE file, size_t size, std::string& out) {
    out.resize(size);
    size_t done = 0;
    while (done < size) {
        DWORD got = 0;
        const DWORD ask = static_cast<DWORD>(size - done < 0x10000000 ? size - done : 0x10000000);
        if (!ReadFile(file, &out[done], ask, &got, nullptr)) return false;
        if (got == 0) break;  // the file shrank while it was read
        done += got;
    }
    out.resize(done);
    return true;
}

}  // namespace

PlatReadResult plat_file_read(const char* path, size_t limit, std::string& out) {
    out.clear();
    const std::wstring widePath = path != nullptr ? wide_from_utf8(path) : std::wstring();
    if (widePath.empty()) return PlatReadResult::kUnreadable;
    // Editors may hold the file open while it is read; a folder cannot be opened this way.
    HANDLE file = CreateFileW(widePath.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return PlatReadResult::kUnreadable;
    PlatReadResult result = PlatReadResult::kUnreadable;
    LARGE_INTEGER size;
    if (GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size)) {
        if (static_cast<unsigned long long>(size.QuadPart) > limit)
            result = PlatReadResult::kTooLarge;
        else if (ReadAll(file, static_cast<size_t>(size.QuadPart), out))
            result = PlatReadResult::kRead;
    }
    CloseHandle(file);
    if (result != PlatReadResult::kRead) out.clear();
    return result;
}
