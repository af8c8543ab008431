#include "poll_loop.h"

#include <algorithm>
#include <chrono>

#include "platform.h"

namespace {

using Clock = std::chrono::steady_clock;

// Sleeps until `deadline`, in steps short enough to answer a termination signal soon.
bool SleepUntil(Clock::time_point deadline) {
    for (;;) {
        if (plat_termination_requested()) return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return true;
        plat_sleep_ms(static_cast<uint32_t>(std::min<long long>(left, 50)));
    }
}

}  // namespace

int RunRounds(const PluginApi& api, const std::vector<HostSource>& sources, uint32_t rounds,
              uint32_t intervalMs, const RoundConsumer& consume) {
    const Clock::time_point first = Clock::now();
    for (uint64_t number = 1; rounds == 0 || number <= rounds; ++number) {
        if (number > 1 && !SleepUntil(first + std::chrono::milliseconds(intervalMs) *
                                                  static_cast<int64_t>(number - 1)))
            break;
        const RoundVerdict verdict = consume(TakeRound(api, sources, number));
        if (verdict.stop) return verdict.status;
        if (plat_termination_requested()) break;
    }
    return 0;
}
