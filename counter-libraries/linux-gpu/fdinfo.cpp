#include "fdinfo.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>

namespace {

bool StartsWith(const std::string& text, const char* prefix, std::string* rest) {
    const std::string start(prefix);
    if (text.compare(0, start.size(), start) != 0) return false;
    *rest = text.substr(start.size());
    return true;
}

// "gfx0", "gfx_1.0.0" and "gfx" are one class: amdgpu once numbered its rings in the key.
std::string EngineClass(const std::string& name) {
    size_t end = 1;
    while (end < name.size() && !isdigit(static_cast<unsigned char>(name[end])) && name[end] != '_')
        ++end;
    return name.substr(0, end);
}

EngineCount& Engine(FdinfoClient* client, const std::string& name) {
    const std::string engine = EngineClass(name);
    for (EngineCount& count : client->engines)
        if (count.engine == engine) return count;
    client->engines.push_back(EngineCount{});
    client->engines.back().engine = engine;
    return client->engines.back();
}

bool Number(const std::string& text, uint64_t* value) {
    const char* start = text.c_str();
    if (!isdigit(static_cast<unsigned char>(*start))) return false;
    char* end = nullptr;
    *value = strtoull(start, &end, 10);
    return true;
}

// The older format's "70.59%": the digits after the point are hundredths printed as an
// integer, so "70.5%" is 70.05 %.
bool OldPercent(const std::string& text, double* percent) {
    uint64_t whole = 0, hundredths = 0;
    if (!Number(text, &whole) || text.back() != '%') return false;
    const size_t point = text.find('.');
    if (point != std::string::npos && !Number(text.substr(point + 1), &hundredths)) return false;
    *percent = static_cast<double>(whole) + static_cast<double>(hundredths) / 100.0;
    return true;
}

// "2048 KiB", "12 MiB", "4096" (bytes), saturating at 64 bits.
bool Bytes(const std::string& text, uint64_t* bytes) {
    uint64_t number = 0;
    if (!Number(text, &number)) return false;
    const size_t space = text.find(' ');
    const std::string unit = space == std::string::npos ? "" : text.substr(space + 1);
    const unsigned shift = unit == "KiB" ? 10 : unit == "MiB" ? 20 : unit == "GiB" ? 30 : 0;
    if (shift == 0 && !unit.empty()) return false;
    *bytes = number > (UINT64_MAX >> shift) ? UINT64_MAX : number << shift;
    return true;
}

std::string Trim(const std::string& text) {
    size_t start = 0, end = text.size();
    while (start < end && isspace(static_cast<unsigned char>(text[start]))) ++start;
    while (end > start && isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return text.substr(start, end - start);
}

}  // namespace

bool fdinfo_parse(const std::string& text, FdinfoClient* client) {
    *client = FdinfoClient{};
    bool drm = false;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        const std::string key = Trim(line.substr(0, colon));
        const std::string value = Trim(line.substr(colon + 1));
        std::string rest;
        uint64_t number = 0;
        if (key == "drm-driver") {
            client->driver = value;
            drm = true;
        } else if (key == "drm-pdev" || key == "pdev") {
            client->pdev = value;
            drm = true;
        } else if (key == "drm-client-id" || (key == "pasid" && client->id.empty())) {
            client->id = value;
        } else if (key == "drm-client-name") {
            client->name = value.substr(0, kClientNameLimit);
        } else if (StartsWith(key, "drm-resident-", &rest)) {
            uint64_t bytes = 0;
            if (Bytes(value, &bytes)) client->residentBytes[rest] = bytes;
        } else if (StartsWith(key, "drm-memory-", &rest)) {
            uint64_t bytes = 0;  // the older name: a drm-resident- key of the region wins
            if (Bytes(value, &bytes) && client->residentBytes.count(rest) == 0)
                client->residentBytes[rest] = bytes;
        } else if (StartsWith(key, "drm-engine-capacity-", &rest)) {
            // No engine class has more engines than this: a larger count is garbage.
            if (Number(value, &number) && number > 0 && number <= 1024)
                Engine(client, rest).capacity = static_cast<uint32_t>(number);
        } else if (StartsWith(key, "drm-engine-", &rest)) {
            EngineCount& engine = Engine(client, rest);
            if (Number(value, &number)) engine.ns += number, engine.hasNs = true;
        } else if (StartsWith(key, "drm-total-cycles-", &rest)) {
            if (Number(value, &number)) Engine(client, rest).totalCycles = number;
        } else if (StartsWith(key, "drm-cycles-", &rest)) {
            EngineCount& engine = Engine(client, rest);
            if (Number(value, &number)) engine.cycles = number, engine.hasCycles = true;
        } else if (client->driver.empty() && key.compare(0, 4, "drm-") != 0) {
            double percent = 0;
            if (!value.empty() && OldPercent(value, &percent)) {
                EngineCount& engine = Engine(client, key);
                engine.percent = std::max(engine.percent, percent);
            }
        }
    }
    return drm;
}
