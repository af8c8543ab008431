// The INI reader. A file is parsed once into a table of values; lookups then cost a hash
// each, where the Windows profile reader would read the whole file again for every key.
// It reads files the way that reader does, so a configuration means the same on every
// platform: section and key names compare case-insensitively, the first section of a
// name and the first occurrence of a key in it win, blanks around names and values are
// stripped and one pair of matching surrounding quotes is removed, and only a line that
// starts with ";" is a comment. A line ends at LF, CR LF or a lone CR.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

class IniDocument {
public:
    // A file that is missing, cannot be read, is no regular file or is larger than
    // kMaxConfigBytes is an empty document. Byte-order marks are read as config_text.h says.
    static IniDocument Load(const char* path);
    static IniDocument Parse(std::string_view text);

    // The value of a key, or null when the section or the key is missing.
    const std::string* Find(std::string_view section, std::string_view key) const;

    // Copies the value, or "" when it is missing, into `out`, cut to `capacity` - 1
    // characters. Returns the number of characters copied.
    size_t GetString(std::string_view section, std::string_view key, char* out,
                     size_t capacity) const;

    // The value read as an integer: leading blanks, an optional sign, decimal digits or
    // hexadecimal after "0x", trailing text ignored; no digits give 0, a missing key
    // `defaultValue`. Values beyond the 32-bit range saturate.
    int32_t GetInt(std::string_view section, std::string_view key, int32_t defaultValue) const;

    // The number of keys read, repeats within a section included.
    size_t Size() const { return keyCount_; }

private:
    // A section's keys, lower-cased, in file order: the first match of a lookup is the
    // first occurrence. Lookups allocate nothing for names that fit a short string.
    using Section = std::vector<std::pair<std::string, std::string>>;
    std::unordered_map<std::string, Section> sections_;
    size_t keyCount_ = 0;
};

// The integer rule of GetInt applied to a text.
int32_t ini_parse_int(std::string_view text);
