#include "number_text.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

// The blanks that "%d" and "%f" skip.
bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Skips blanks and a sign. Returns the start of the digits and whether a minus was seen.
const char* SkipToDigits(const char* text, bool* negative) {
    while (IsSpace(*text)) ++text;
    *negative = *text == '-';
    if (*text == '+' || *text == '-') ++text;
    return text;
}

bool StartsWithDigitOrPoint(const char* text) {
    return (*text >= '0' && *text <= '9') || *text == '.' || *text == 'i' || *text == 'I' ||
           *text == 'n' || *text == 'N';
}

}  // namespace

bool ParseLeadingInt32(const char* text, int32_t* value) {
    if (text == nullptr) return false;
    bool negative;
    const char* digits = SkipToDigits(text, &negative);
    const char* end = digits + strlen(digits);
    uint64_t magnitude = 0;
    auto [stop, error] = std::from_chars(digits, end, magnitude, 10);
    if (stop == digits || error != std::errc()) return false;
    const uint64_t limit = negative ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1;
    if (magnitude > limit) return false;
    *value = negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude))
                      : static_cast<int32_t>(magnitude);
    return true;
}

bool ParseLeadingFloat(const char* text, float* value) {
    if (text == nullptr) return false;
    bool negative;
    const char* digits = SkipToDigits(text, &negative);
    // A second sign is not a number; from_chars would take it.
    if (!StartsWithDigitOrPoint(digits)) return false;
    float number = 0.0f;
    auto [stop, error] =
        std::from_chars(digits, digits + strlen(digits), number, std::chars_format::general);
    // Out of range, or "inf" and "nan", which from_chars reads: no usable limit or factor.
    if (stop == digits || error != std::errc() || !std::isfinite(number)) return false;
    *value = negative ? -number : number;
    return true;
}
