#include <windows.h>

#include "platform.h"
#include "wide_text.h"

size_t plat_path_units(const char* path) {
    return path == nullptr ? 0 : wide_from_utf8(path).size();
}

bool plat_same_path(const char* a, const char* b) {
    if (a == nullptr || b == nullptr) return false;
    const std::wstring wideA = wide_from_utf8(a);
    const std::wstring wideB = wide_from_utf8(b);
    if (wideA.empty() || wideB.empty()) return false;
    // File names compare as the file system does: by their upper-case forms.
    return CompareStringOrdinal(wideA.c_str(), static_cast<int>(wideA.size()), wideB.c_str(),
                                static_cast<int>(wideB.size()), TRUE) == CSTR_EQUAL;
}

std::string plat_utf8_to_host_text(std::string_view text) {
    if (text.empty() || text.size() > 0x7FFFFFFF) return {};
    // Not strict: a malformed sequence becomes U+FFFD and then "?", as it would in any
    // editor, instead of losing the whole text.
    const int utf8Size = static_cast<int>(text.size());
    int wideLength = MultiByteToWideChar(CP_UTF8, 0, text.data(), utf8Size, nullptr, 0);
    if (wideLength <= 0) return {};
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), utf8Size, &wide[0], wideLength);
    const int size = static_cast<int>(wide.size());
    int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string host(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), size, &host[0], length, nullptr, nullptr);
    return host;
}

bool plat_host_text_is_utf8() {
    return GetACP() == CP_UTF8;
}

std::string plat_host_text_to_utf8(std::string_view text) {
    if (text.empty() || text.size() > 0x7FFFFFFF) return {};
    const int size = static_cast<int>(text.size());
    const int wideLength = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    if (wideLength <= 0) return {};
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, &wide[0], wideLength);
    return utf8_from_wide(wide);
}
