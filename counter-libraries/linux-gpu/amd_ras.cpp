#include "amd_ras.h"

#include <cstdlib>
#include <cstring>

#include "drm_files.h"

namespace {

constexpr char kSuffix[] = "_err_count";

// The number after `key` at a line's start; false where there is none.
bool NumberAfter(const std::string& text, const char* key, uint64_t* value) {
    const std::string line = std::string("\n") + key;
    const std::string padded = "\n" + text;
    const size_t at = padded.find(line);
    if (at == std::string::npos) return false;
    const char* start = padded.c_str() + at + line.size();
    while (*start == ' ' || *start == '\t') ++start;
    if (*start < '0' || *start > '9') return false;
    char* end = nullptr;
    *value = strtoull(start, &end, 10);
    return *end == '\n' || *end == '\0' || *end == ' ';
}

uint64_t Sum(uint64_t a, uint64_t b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

}  // namespace

std::vector<std::string> amd_ras_files(const std::string& device) {
    std::vector<std::string> files;
    const size_t suffix = strlen(kSuffix);
    for (const std::string& name : drm_list(device + "/ras"))
        if (name.size() > suffix && name.compare(name.size() - suffix, suffix, kSuffix) == 0)
            files.push_back(device + "/ras/" + name);
    return files;
}

bool amd_parse_ras(const std::string& text, uint64_t* uncorrectable, uint64_t* correctable) {
    return NumberAfter(text, "ue:", uncorrectable) && NumberAfter(text, "ce:", correctable);
}

RasCounts amd_read_ras(const std::vector<std::string>& files) {
    RasCounts counts;
    for (const std::string& file : files) {
        std::string text;
        uint64_t ue = 0, ce = 0;
        if (drm_read_file(file, 4096, &text) != 0 || !amd_parse_ras(text, &ue, &ce)) continue;
        counts.read = true;
        counts.uncorrectable = Sum(counts.uncorrectable, ue);
        counts.correctable = Sum(counts.correctable, ce);
    }
    return counts;
}
