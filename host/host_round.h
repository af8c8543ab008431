// One round of polling: every source's value, taken one after another, and when. Every
// output of the host (rows, CSV, JSON, the live view, the exposition) consumes rounds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host_source.h"
#include "plugin_api.h"

struct HostRound {
    uint64_t number;     // 1 for the first round
    double unixSeconds;  // when the round ended
    double durationSeconds;
    std::string localTimestamp;  // ISO 8601 local time of its start, for the scripts
    std::vector<float> values;   // by source
};

// Polls every source once.
HostRound TakeRound(const PluginApi& api, const std::vector<HostSource>& sources, uint64_t number);
