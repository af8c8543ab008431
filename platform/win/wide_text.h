// Conversions between the UTF-8 text of the platform interface and Windows' UTF-16.
#pragma once

#include <string>
#include <string_view>

// Empty when the text is not valid UTF-8 or is empty.
std::wstring wide_from_utf8(std::string_view text);
// Empty when the text is empty or cannot be converted.
std::string utf8_from_wide(std::wstring_view text);
