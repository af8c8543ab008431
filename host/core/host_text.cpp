#include "host_text.h"

#include <cstdio>

size_t Utf8Length(const std::string& text, size_t i, char32_t* decoded) {
    const unsigned char first = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    unsigned int code = 0;
    if (first < 0x80) {
        if (decoded != nullptr) *decoded = first;
        return 1;
    }
    if ((first & 0xE0) == 0xC0)
        length = 2, code = first & 0x1F;
    else if ((first & 0xF0) == 0xE0)
        length = 3, code = first & 0x0F;
    else if ((first & 0xF8) == 0xF0)
        length = 4, code = first & 0x07;
    else
        return 0;
    if (i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        const unsigned char next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) return 0;
        code = (code << 6) | (next & 0x3F);
    }
    const unsigned int least[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    if (decoded != nullptr) *decoded = code;
    return length;
}

std::string PrintableText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const unsigned char next =
            i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        char escape[8];
        if (c < 0x20 || c == 0x7F) {
            snprintf(escape, sizeof escape, "\\x%02x", c);
        } else if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
            snprintf(escape, sizeof escape, "\\u%04x", next);
            ++i;
        } else {
            out += static_cast<char>(c);
            continue;
        }
        out += escape;
    }
    return out;
}

std::string ValidUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (const size_t length = Utf8Length(text, i)) {
            out.append(text, i, length);
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

std::u32string CodePoints(const std::string& text) {
    std::u32string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        char32_t code = 0;
        const size_t length = Utf8Length(text, i, &code);
        out += length != 0 ? code : U'\uFFFD';
        i += length != 0 ? length : 1;
    }
    return out;
}

std::string Utf8Of(char32_t code) {
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
    std::string out;
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
    return out;
}

std::string DurationText(uint32_t milliseconds) {
    const struct {
        uint32_t ms;
        const char* unit;
    } kUnits[] = {{3600000, "h"}, {60000, "min"}, {1000, "s"}};
    for (const auto& unit : kUnits)
        if (milliseconds >= unit.ms && milliseconds % unit.ms == 0)
            return std::to_string(milliseconds / unit.ms) + " " + unit.unit;
    if (milliseconds < 1000) return std::to_string(milliseconds) + " ms";
    char text[32];
    snprintf(text, sizeof text, "%.1f s", milliseconds / 1000.0);
    return text;
}
