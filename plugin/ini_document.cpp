#include "ini_document.h"

#include <cstring>

#include "config_text.h"
#include "counter_text.h"
#include "platform.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::string_view Unquote(std::string_view text) {
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') &&
        text.back() == text.front()) {
        return text.substr(1, text.size() - 2);
    }
    return text;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerCopy(std::string_view text) {
    std::string lower(text.size(), '\0');
    for (size_t i = 0; i < text.size(); ++i) lower[i] = Lower(text[i]);
    return lower;
}

// `lower` is already lower-cased.
bool EqualsIgnoringCase(const std::string& lower, std::string_view text) {
    if (lower.size() != text.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (lower[i] != Lower(text[i])) return false;
    }
    return true;
}

int DigitValue(char c, int base) {
    int value = 99;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    return value < base ? value : -1;
}

}  // namespace

IniDocument IniDocument::Load(const char* path) {
    // Only a regular file is read, and only one of a size that a configuration can have:
    // a pipe or a device could block the host, a huge file would stall it. A file that
    // fails part-way is unreadable too: half a configuration would drop sources.
    std::string bytes;
    if (plat_file_read(path, kMaxConfigBytes, bytes) != PlatReadResult::kRead) return Parse("");
    return Parse(DecodeConfigText(bytes));
}

IniDocument IniDocument::Parse(std::string_view text) {
    IniDocument document;
    Section* section = nullptr;  // null before any header and in repeats of a section

    while (!text.empty()) {
        const size_t end = text.find_first_of("\r\n");
        std::string_view line = Trim(text.substr(0, end));
        size_t next = end == std::string_view::npos ? text.size() : end + 1;
        if (end != std::string_view::npos && text[end] == '\r' && next < text.size() &&
            text[next] == '\n')
            ++next;  // CR LF is one line break
        text.remove_prefix(next);

        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            std::string_view name = line.substr(1);
            name = Trim(name.substr(0, name.find(']')));
            auto [found, added] = document.sections_.try_emplace(LowerCopy(name));
            section = added ? &found->second : nullptr;
            continue;
        }
        if (section == nullptr) continue;
        size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        std::string_view key = Trim(line.substr(0, equals));
        if (key.empty()) continue;
        std::string_view value = Unquote(Trim(line.substr(equals + 1)));
        section->emplace_back(LowerCopy(key), std::string(value));
        ++document.keyCount_;
    }
    return document;
}

const std::string* IniDocument::Find(std::string_view section, std::string_view key) const {
    auto found = sections_.find(LowerCopy(section));
    if (found == sections_.end()) return nullptr;
    for (const auto& [name, value] : found->second) {
        if (EqualsIgnoringCase(name, key)) return &value;
    }
    return nullptr;
}

size_t IniDocument::GetString(std::string_view section, std::string_view key, char* out,
                              size_t capacity) const {
    if (capacity == 0) return 0;
    const std::string* value = Find(section, key);
    const size_t length =
        value == nullptr ? 0 : TextCutLength(value->data(), value->size(), capacity - 1);
    if (length > 0) memcpy(out, value->data(), length);
    out[length] = '\0';
    return length;
}

int32_t IniDocument::GetInt(std::string_view section, std::string_view key,
                            int32_t defaultValue) const {
    const std::string* value = Find(section, key);
    return value == nullptr ? defaultValue : ini_parse_int(*value);
}

int32_t ini_parse_int(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') &&
        DigitValue(text[2], 16) >= 0) {
        base = 16;
        text.remove_prefix(2);
    }
    const int64_t limit = negative ? int64_t{INT32_MAX} + 1 : INT32_MAX;
    int64_t magnitude = 0;
    for (char c : text) {
        int digit = DigitValue(c, base);
        if (digit < 0) break;
        magnitude = magnitude * base + digit;
        if (magnitude > limit) magnitude = limit;
    }
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}
