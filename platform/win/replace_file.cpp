#include <windows.h>

#include "platform.h"
#include "wide_text.h"

namespace {

// A new, empty file of ours at `temporary`, or INVALID_HANDLE_VALUE. Whatever stood at
// that name (a file with other names among them) is removed as a name first, never
// written through; CREATE_NEW then refuses anything that appeared meanwhile.
HANDLE CreateTemporary(const std::wstring& temporary) {
    DeleteFileW(temporary.c_str());
    return CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string ErrorText(DWORD error) {
    char text[256];
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, text, sizeof text, nullptr);
    std::string result(text, length);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                               result.back() == '.' || result.back() == ' '))
        result.pop_back();
    return result.empty() ? "error " + std::to_string(error) : result;
}

}  // namespace

bool plat_file_replace(const char* path, const std::string& data) {
    const std::wstring target = path != nullptr ? wide_from_utf8(path) : std::wstring();
    if (target.empty() || data.size() > 0xFFFFFFFFu) return false;
    const std::wstring temporary = target + L".tmp";
    HANDLE file = CreateTemporary(temporary);
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

bool plat_file_replaceable(const char* path, std::string* why) {
    const std::wstring target = path != nullptr ? wide_from_utf8(path) : std::wstring();
    if (target.empty()) {
        *why = "no file named";
        return false;
    }
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0) {
        *why = "not a regular file";
        return false;
    }
    const std::wstring temporary = target + L".tmp";
    HANDLE file = CreateTemporary(temporary);
    if (file == INVALID_HANDLE_VALUE) {
        *why = ErrorText(GetLastError());
        return false;
    }
    CloseHandle(file);
    DeleteFileW(temporary.c_str());
    return true;
}

bool plat_file_remove(const char* path) {
    const std::wstring target = path != nullptr ? wide_from_utf8(path) : std::wstring();
    return !target.empty() && DeleteFileW(target.c_str()) != 0;
}
