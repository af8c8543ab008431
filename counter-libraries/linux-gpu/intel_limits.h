// What an Intel GPU's own files say of why its clocks are held down (the throttle reasons,
// 0 or 1 each) and of how long it sat in its deepest idle state (RC6, or xe's GT idle), for
// i915's layout, the older i915 names and xe's. Found once, read each period.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "background_sampler.h"

enum class LimitKind { kPower, kThermal, kOther };

struct LimitFile {
    std::string path;
    LimitKind kind;  // pl1, pl2, pl4: power; thermal, prochot, vr_thermalert: thermal;
                     // ratl, vr_tdc: other
};

// The throttle reason files under an Intel GPU's PCI device folder `device` and its card
// folder `card` (device/drm/cardN): i915's gt/gt<n>/throttle_reason_*, else the older
// card-level gt_throttle_reason_status_*; xe's tile<t>/gt<n>/freq0/throttle/reason_*.
// None where the GPU has none.
std::vector<LimitFile> intel_limit_files(const std::string& device, const std::string& card);
// Its idle-residency files, milliseconds since boot, one a GT: i915's gt/gt<n>/
// rc6_residency_ms (else the card's power/rc6_residency_ms), xe's tile<t>/gt<n>/gtidle/
// idle_residency_ms.
std::vector<std::string> intel_idle_files(const std::string& device, const std::string& card);

// Which limits hold the clocks down now; `read` false where no file could be read.
struct LimitState {
    bool read = false;
    bool power = false, thermal = false, other = false;
};
LimitState intel_read_limits(const std::vector<LimitFile>& files);

// The share of time in the idle state since the last reading, kept in `history`: the GTs'
// growth over the interval, averaged over them. The first reading, and one after a
// counter went back, only take a baseline (no data).
struct IdleHistory {
    uint64_t ms = 0;
    uint64_t atNs = 0;  // 0 before the first reading
};
CounterReading intel_read_idle(const std::vector<std::string>& files, IdleHistory* history);
