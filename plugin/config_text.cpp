#include "config_text.h"

#include <cstdint>

#include "platform.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool StartsWith(std::string_view bytes, std::string_view prefix) {
    return bytes.substr(0, prefix.size()) == prefix;
}

void AppendUtf8(char32_t code, std::string& out) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

}  // namespace

std::string Utf8FromUtf16(std::string_view bytes, bool bigEndian) {
    const size_t units = bytes.size() / 2;
    auto unitAt = [&](size_t i) {
        const uint8_t first = static_cast<uint8_t>(bytes[2 * i]);
        const uint8_t second = static_cast<uint8_t>(bytes[2 * i + 1]);
        return static_cast<char32_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
    };
    std::string out;
    out.reserve(units);
    for (size_t i = 0; i < units; ++i) {
        const char32_t unit = unitAt(i);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
            const char32_t next = unitAt(i + 1);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00), out);
                ++i;
                continue;
            }
        }
        AppendUtf8(unit >= 0xD800 && unit <= 0xDFFF ? kReplacement : unit, out);
    }
    return out;
}

std::string DecodeConfigText(std::string_view bytes) {
    if (StartsWith(bytes, "\xEF\xBB\xBF")) return plat_utf8_to_host_text(bytes.substr(3));
    if (StartsWith(bytes, "\xFF\xFE"))
        return plat_utf8_to_host_text(Utf8FromUtf16(bytes.substr(2), false));
    if (StartsWith(bytes, "\xFE\xFF"))
        return plat_utf8_to_host_text(Utf8FromUtf16(bytes.substr(2), true));
    return std::string(bytes);
}
