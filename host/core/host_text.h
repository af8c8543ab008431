// Texts from a plug-in made safe for where the host shows them. A plug-in's texts come
// from a configuration file or a counter library: they may hold control characters or
// bytes that are not UTF-8.
#pragma once

#include <cstdint>
#include <string>

// The text with every control character (C0, DEL, and C1 written in UTF-8) shown as an
// escape, \x1b or \u0085, so that none reaches a terminal or breaks a layout.
std::string PrintableText(const std::string& text);

// The text with every byte that does not start a valid UTF-8 character replaced by
// U+FFFD, so that a line for scripts is always valid UTF-8.
std::string ValidUtf8(const std::string& text);

// The length of the valid UTF-8 character at `i`, or 0 when there is none; with
// `decoded`, the character is stored there too.
size_t Utf8Length(const std::string& text, size_t i, char32_t* decoded = nullptr);

// The characters of UTF-8 text, one a code point; a byte that starts no valid character
// is U+FFFD.
std::u32string CodePoints(const std::string& text);

// A pace as a person reads it: "500 ms", "2 s", "1.5 s", "5 min", "1 h".
std::string DurationText(uint32_t milliseconds);

// A character as UTF-8 (U+FFFD for one that is no character).
std::string Utf8Of(char32_t code);
