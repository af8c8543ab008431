// The host's one loop of polling: a round every interval, on a fixed schedule, handed to
// the outputs that consume it.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "host_round.h"
#include "host_source.h"
#include "plugin_api.h"

// What an output says after a round: go on, or stop with an exit status.
struct RoundVerdict {
    bool stop;
    int status;
};
using RoundConsumer = std::function<RoundVerdict(const HostRound&)>;

// Polls `rounds` rounds (0: until told to stop), round k starting (k - 1) intervals after
// the first, so that rounds do not drift. Ends early when an output stops it or a
// termination signal comes (then with status 0). Returns the exit status.
int RunRounds(const PluginApi& api, const std::vector<HostSource>& sources, uint32_t rounds,
              uint32_t intervalMs, const RoundConsumer& consume);
