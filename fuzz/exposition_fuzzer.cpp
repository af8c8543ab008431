// Arbitrary sources and readings through the exposition writer: names, units and groups of
// any bytes (quotes, backslashes, line breaks, broken UTF-8, names that collide with one
// another or with the host's own families) and any float. Every line written must be one
// that Prometheus' text format allows: a comment, or a valid metric name, labels whose
// values are escaped, and a number; and no family may appear twice.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "exposition.h"
#include "fuzz_input.h"

namespace {

bool NameCharacter(char c, bool first) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' ||
           (!first && c >= '0' && c <= '9');
}

// Checks one sample line; aborts on anything the format does not allow.
void CheckSample(const std::string& line, std::set<std::string>& series) {
    size_t at = 0;
    while (at < line.size() && NameCharacter(line[at], at == 0)) ++at;
    if (at == 0) abort();
    size_t end = at;
    if (at < line.size() && line[at] == '{') {
        ++at;
        while (at < line.size() && line[at] != '}') {
            const size_t nameStart = at;
            while (at < line.size() && NameCharacter(line[at], at == nameStart)) ++at;
            if (at == nameStart || line.compare(at, 2, "=\"") != 0) abort();
            at += 2;
            while (at < line.size() && line[at] != '"') {
                if (line[at] == '\\') {
                    if (at + 1 >= line.size() ||
                        (line[at + 1] != '\\' && line[at + 1] != '"' && line[at + 1] != 'n'))
                        abort();
                    ++at;
                }
                ++at;
            }
            if (at >= line.size()) abort();
            ++at;  // the closing quote
            if (at < line.size() && line[at] == ',') ++at;
        }
        if (at >= line.size()) abort();
        end = ++at;
    }
    if (!series.insert(line.substr(0, end)).second) abort();  // a series written twice
    if (at >= line.size() || line[at] != ' ') abort();
    const std::string number = line.substr(at + 1);
    if (number != "NaN" && number != "+Inf" && number != "-Inf") {
        char* stop = nullptr;
        const double value = strtod(number.c_str(), &stop);
        if (number.empty() || *stop != '\0' || !std::isfinite(value)) abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const size_t count = input.Take<uint8_t>() % 12;
    std::vector<HostSource> sources;
    std::vector<float> values;
    for (size_t i = 0; i < count; ++i) {
        char name[64], units[16], group[32];
        const size_t nameLength = input.Bytes(name, sizeof name);
        const size_t unitsLength = input.Bytes(units, sizeof units);
        const size_t groupLength = input.Bytes(group, sizeof group);
        sources.push_back(HostSource{static_cast<uint32_t>(i), true, std::string(name, nameLength),
                                     std::string(units, unitsLength), "",
                                     std::string(group, groupLength), 100, 0, 10});
        values.push_back(input.Take<float>());
    }
    Exposition exposition(sources);
    for (uint64_t round = 1; round <= 2; ++round) {
        const std::string text =
            exposition.Take(HostRound{round, 1765200000.5, 0.001, "T", values});
        if (text.empty() || text.back() != '\n') abort();
        std::set<std::string> families, series;
        size_t start = 0;
        while (start < text.size()) {
            const size_t end = text.find('\n', start);
            const std::string line = text.substr(start, end - start);
            start = end + 1;
            if (line.rfind("# TYPE ", 0) == 0) {
                const std::string family = line.substr(7, line.find(' ', 7) - 7);
                if (!families.insert(family).second) abort();  // a family written twice
            } else if (line.rfind("# HELP ", 0) != 0) {
                CheckSample(line, series);
            }
        }
        values.assign(values.size(), 0.1f);  // the next round: every reading failed
    }
    return 0;
}
