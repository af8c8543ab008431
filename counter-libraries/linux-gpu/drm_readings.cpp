#include "drm_readings.h"

#include <cerrno>
#include <chrono>
#include <cmath>

#include "drm_files.h"

namespace {

constexpr uint64_t kMiB = 1024 * 1024;
// No GPU is this hot or draws this much: such a value is a fault of the sensor.
constexpr int64_t kMaxMillidegrees = 200000;
constexpr int64_t kMaxMicrowatts = 5000LL * 1000 * 1000;
// A stopped fan may read 65535.
constexpr int64_t kMaxRpm = 30000;
// No GPU's clock, and no GPU's memory (its share of system memory included), comes near
// these: a figure beyond is a fault of the driver, and keeps every sum in range.
constexpr int64_t kMaxMhz = 20000;
constexpr int64_t kMaxMemoryBytes = 64LL << 40;  // 64 TiB
// An integrated GPU's VRAM is a small carve-out of the system's memory.
constexpr int64_t kCarveOutBytes = 512LL * 1024 * 1024;
// A first energy reading waits this long for a second one.
constexpr uint32_t kEnergyBaselineMs = 100;

CounterReading Fail(int32_t status) {
    return CounterReading{status, 0, 0};
}

CounterReading Raw(uint64_t value) {
    return CounterReading{0, value, 1};
}

int32_t StatusOf(int error) {
    switch (error) {
        case EOPNOTSUPP:
        case EINVAL:
        case ENODATA:
            return kReadingNotAvailable;
        case EACCES:
        case EPERM:
            return kReadingNoPermission;
        default:
            return kReadingNoData;
    }
}

// The file's integer within [low, high]: 0 or the failure's status.
int32_t ReadWithin(const std::string& path, int64_t low, int64_t high, int64_t* value) {
    if (path.empty()) return kReadingNotAvailable;
    if (const int error = drm_read_integer(path, value)) return StatusOf(error);
    return *value < low || *value > high ? kReadingNoData : 0;
}

// A clock from a pp_dpm_* file, a hwmon frequency in Hz, or a file in MHz, the first
// that the GPU has.
CounterReading Clock(const std::string& levels, const std::string& hertz,
                     const std::string& mhz = "", const std::string& idleMhz = "") {
    int64_t value = 0;
    if (!levels.empty()) {
        std::string text;
        if (const int error = drm_read_file(levels, 4096, &text)) return Fail(StatusOf(error));
        uint64_t level = 0;
        if (!drm_current_level_mhz(text, &level) || level > kMaxMhz) return Fail(kReadingNoData);
        return Raw(level);
    }
    if (!hertz.empty()) {
        if (const int32_t status = ReadWithin(hertz, 0, kMaxMhz * 1000000, &value))
            return Fail(status);
        return Raw(static_cast<uint64_t>(value + 500000) / 1000000);
    }
    if (const int32_t status = ReadWithin(mhz, 0, kMaxMhz, &value)) return Fail(status);
    // xe's actual frequency reads 0 while the GPU idles: the requested one says more.
    if (value == 0 && !idleMhz.empty() && ReadWithin(idleMhz, 0, kMaxMhz, &value) != 0) value = 0;
    return Raw(static_cast<uint64_t>(value));
}

}  // namespace

CounterReading drm_share(double share) {
    const double bounded = std::fmin(std::fmax(share, 0.0), 1.0);
    return CounterReading{0, static_cast<uint64_t>(std::llround(bounded * kShareCycle)),
                          kShareCycle};
}

bool drm_asleep(const DrmSources& sources) {
    if (sources.runtimeStatus.empty()) return false;
    const std::string status = drm_read_line(sources.runtimeStatus);
    return !status.empty() && status != "active" && status != "unsupported";
}

CounterReading drm_read_percent(const std::string& path) {
    int64_t value = 0;
    if (const int32_t status = ReadWithin(path, 0, 100, &value)) return Fail(status);
    return CounterReading{0, static_cast<uint64_t>(value), 100};
}

bool drm_current_level_mhz(const std::string& text, uint64_t* mhz) {
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
        const size_t colon = line.find(':');
        if (line.empty() || line.back() != '*' || colon == std::string::npos) continue;
        const char* digits = line.c_str() + colon + 1;
        while (*digits == ' ' || *digits == '\t') ++digits;
        if (*digits < '0' || *digits > '9') return false;
        *mhz = strtoull(digits, nullptr, 10);
        return true;
    }
    return false;
}

void drm_read_clocks(const DrmSources& s, CounterReading out[4]) {
    out[0] = Clock(s.graphicsLevels, s.graphicsHz, s.graphicsMhz, s.graphicsMhzIdle);
    out[1] = Fail(kReadingNotAvailable);  // the shader clock is the graphics clock here
    out[2] = Clock(s.memoryLevels, s.memoryHz);
    out[3] = Fail(kReadingNotAvailable);
}

void drm_read_memory(const DrmSources& s, CounterReading out[3]) {
    int64_t used = 0, total = 0;
    int32_t status = ReadWithin(s.vramUsed, 0, kMaxMemoryBytes, &used);
    if (status == 0) status = ReadWithin(s.vramTotal, 0, kMaxMemoryBytes, &total);
    // An integrated GPU's memory is mostly system memory that the kernel maps for it (GTT).
    int64_t gttUsed = 0, gttTotal = 0;
    if (status == 0 && (s.integrated || total <= kCarveOutBytes) && !s.gttUsed.empty() &&
        ReadWithin(s.gttUsed, 0, kMaxMemoryBytes, &gttUsed) == 0 &&
        ReadWithin(s.gttTotal, 0, kMaxMemoryBytes, &gttTotal) == 0) {
        used += gttUsed;
        total += gttTotal;
    }
    if (status == 0 && used > total) status = kReadingNoData;  // more used than there is
    for (int i = 0; i < 3; ++i) out[i] = Fail(status);
    if (status != 0) return;
    out[0] = Raw(static_cast<uint64_t>(used) / kMiB);
    out[1] = Raw(static_cast<uint64_t>(total - used) / kMiB);
    out[2] = Raw(static_cast<uint64_t>(total) / kMiB);
}

CounterReading drm_read_degrees(const std::string& path) {
    int64_t millidegrees = 0;
    if (const int32_t status = ReadWithin(path, 0, kMaxMillidegrees, &millidegrees))
        return Fail(status);
    return Raw(static_cast<uint64_t>(millidegrees + 500) / 1000);
}

CounterReading drm_read_temperature(const DrmSources& s) {
    return drm_read_degrees(s.temperature);
}

CounterReading drm_read_fan(const DrmSources& s) {
    int64_t value = 0, most = 0;
    if (!s.fanRpm.empty()) {
        int32_t status = ReadWithin(s.fanRpm, 0, kMaxRpm, &value);
        if (status == 0) status = ReadWithin(s.fanMaxRpm, 1, kMaxRpm, &most);
        if (status == 0)
            return CounterReading{0, static_cast<uint64_t>(value), static_cast<uint64_t>(most)};
        if (s.fanPwm.empty()) return Fail(status);
    }
    if (const int32_t status = ReadWithin(s.fanPwm, 0, 255, &value)) return Fail(status);
    return CounterReading{0, static_cast<uint64_t>(value), 255};
}

CounterReading drm_read_power(const DrmSources& s, EnergyHistory* history, Sampler* sampler) {
    int64_t value = 0;
    if (!s.powerMicrowatts.empty()) {
        if (const int32_t status = ReadWithin(s.powerMicrowatts, 0, kMaxMicrowatts, &value))
            return Fail(status);
        return Raw(static_cast<uint64_t>(value) / 1000);
    }
    for (int look = 0; look < 2; ++look) {
        if (const int32_t status = ReadWithin(s.energyMicrojoules, 0, INT64_MAX, &value)) {
            history->atNs = 0;
            return Fail(status);
        }
        const uint64_t now = drm_now_ns();
        const EnergyHistory last = *history;
        history->microjoules = static_cast<uint64_t>(value);
        history->atNs = now;
        if (last.atNs != 0 && static_cast<uint64_t>(value) < last.microjoules)
            return Fail(kReadingNoData);  // wrapped or reset: measured from here on
        if (last.atNs != 0 && now > last.atNs) {
            // µJ per µs is W: µJ per ns times 10^6 is mW.
            const double milliwatts =
                static_cast<double>(static_cast<uint64_t>(value) - last.microjoules) * 1e6 /
                static_cast<double>(now - last.atNs);
            if (milliwatts > static_cast<double>(kMaxMicrowatts) / 1000)
                return Fail(kReadingNoData);
            return Raw(static_cast<uint64_t>(std::llround(milliwatts)));
        }
        if (look == 0 && !sampler_sleep(sampler, kEnergyBaselineMs)) break;
    }
    return Fail(kReadingNoData);
}

uint64_t drm_now_ns() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}
