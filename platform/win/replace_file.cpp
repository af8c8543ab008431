#include <windows.h>

#include "platform.h"
#include "wide_text.h"

bool plat_file_replace(const char* path, const std::string& data) {
    const std::wstring target = path != nullptr ? wide_from_utf8(path) : std::wstring();
    if (target.empty() || data.size() > 0xFFFFFFFFu) return false;
    const std::wstring temporary = target + L".tmp";
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL complete =
        WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
        written == data.size();
    CloseHandle(file);
    if (!complete || !MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}
