#include "intel_limits.h"

#include <algorithm>

#include "drm_files.h"
#include "drm_readings.h"

namespace {

const struct {
    const char* reason;
    LimitKind kind;
} kReasons[] = {{"pl1", LimitKind::kPower},       {"pl2", LimitKind::kPower},
                {"pl4", LimitKind::kPower},       {"thermal", LimitKind::kThermal},
                {"prochot", LimitKind::kThermal}, {"vr_thermalert", LimitKind::kThermal},
                {"ratl", LimitKind::kOther},      {"vr_tdc", LimitKind::kOther}};

// Each reason's file `prefix` + reason, where it exists.
void AddReasons(const std::string& prefix, std::vector<LimitFile>* files) {
    for (const auto& reason : kReasons)
        if (drm_exists(prefix + reason.reason))
            files->push_back({prefix + reason.reason, reason.kind});
}

// The folders named `word`<number> under `folder`.
std::vector<std::string> Numbered(const std::string& folder, const std::string& word) {
    std::vector<std::string> found;
    for (const std::string& name : drm_list(folder))
        if (name.compare(0, word.size(), word) == 0 && name.size() > word.size() &&
            std::all_of(name.begin() + static_cast<std::ptrdiff_t>(word.size()), name.end(),
                        [](char c) { return c >= '0' && c <= '9'; }))
            found.push_back(folder + "/" + name);
    return found;
}

// xe's GTs: device/tile<t>/gt<n>.
std::vector<std::string> XeGts(const std::string& device) {
    std::vector<std::string> gts;
    for (const std::string& tile : Numbered(device, "tile"))
        for (const std::string& gt : Numbered(tile, "gt")) gts.push_back(gt);
    return gts;
}

}  // namespace

std::vector<LimitFile> intel_limit_files(const std::string& device, const std::string& card) {
    std::vector<LimitFile> files;
    for (const std::string& gt : Numbered(card + "/gt", "gt"))
        AddReasons(gt + "/throttle_reason_", &files);
    if (files.empty()) AddReasons(card + "/gt_throttle_reason_status_", &files);
    for (const std::string& gt : XeGts(device)) AddReasons(gt + "/freq0/throttle/reason_", &files);
    return files;
}

std::vector<std::string> intel_idle_files(const std::string& device, const std::string& card) {
    std::vector<std::string> files;
    for (const std::string& gt : Numbered(card + "/gt", "gt"))
        if (drm_exists(gt + "/rc6_residency_ms")) files.push_back(gt + "/rc6_residency_ms");
    if (files.empty() && drm_exists(card + "/power/rc6_residency_ms"))
        files.push_back(card + "/power/rc6_residency_ms");
    for (const std::string& gt : XeGts(device))
        if (drm_exists(gt + "/gtidle/idle_residency_ms"))
            files.push_back(gt + "/gtidle/idle_residency_ms");
    return files;
}

LimitState intel_read_limits(const std::vector<LimitFile>& files) {
    LimitState state;
    for (const LimitFile& file : files) {
        int64_t value = 0;
        if (drm_read_integer(file.path, &value) != 0) continue;
        state.read = true;
        if (value == 0) continue;
        bool& held = file.kind == LimitKind::kPower     ? state.power
                     : file.kind == LimitKind::kThermal ? state.thermal
                                                        : state.other;
        held = true;
    }
    return state;
}

CounterReading intel_read_idle(const std::vector<std::string>& files, IdleHistory* history) {
    const CounterReading noData{kReadingNoData, 0, 0};
    if (files.empty()) return CounterReading{kReadingNotAvailable, 0, 0};
    uint64_t ms = 0;
    for (const std::string& file : files) {
        int64_t value = 0;
        if (drm_read_integer(file, &value) != 0 || value < 0) return noData;
        ms += static_cast<uint64_t>(value);
    }
    const uint64_t now = drm_now_ns();
    const IdleHistory last = *history;
    *history = IdleHistory{ms, now};
    if (last.atNs == 0 || now <= last.atNs || ms < last.ms) return noData;
    const double intervalMs = static_cast<double>(now - last.atNs) / 1e6;
    const double share =
        static_cast<double>(ms - last.ms) / intervalMs / static_cast<double>(files.size());
    return drm_share(std::min(1.0, share));
}
