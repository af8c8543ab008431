// Numbers in texts (the configuration, the probe's argument) are read from the start of
// the text as "%d" and "%f" read them (leading blanks, an optional sign, the longest
// number, trailing text ignored), but the same under every locale, and without undefined
// behaviour on overflow.
#pragma once

#include <cstdint>

// False, with *value untouched, when the text does not begin with a decimal integer
// inside the signed 32-bit range.
bool ParseLeadingInt32(const char* text, int32_t* value);

// False, with *value untouched, when the text does not begin with a number, or the number
// is not a finite 32-bit float (NaN, infinities and magnitudes beyond the float range).
bool ParseLeadingFloat(const char* text, float* value);

// A counter index: the integer at the start of a text such as a source's "ID".
inline bool ParseCounterIndex(const char* id, int32_t* index) {
    return ParseLeadingInt32(id, index);
}
