// One round of polling: every source's value, taken one after another, and when. Every
// output of the host (rows, CSV, JSON, the live view, the exposition) consumes rounds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host_source.h"
#include "platform.h"
#include "plugin_api.h"

struct HostRound {
    uint64_t number;     // 1 for the first round
    double unixSeconds;  // when the round ended
    double durationSeconds;
    std::string localTimestamp;  // ISO 8601 local time of its start, for the scripts
    std::vector<float> values;   // by source
};

// ISO 8601 local time with milliseconds and the offset from UTC:
// 2026-12-08T14:03:22.051+01:00.
std::string IsoTimestamp(const PlatLocalTime& time, int utcOffsetMinutes);

// Polls every source once.
HostRound TakeRound(const PluginApi& api, const std::vector<HostSource>& sources, uint64_t number);
