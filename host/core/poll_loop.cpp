#include "poll_loop.h"

#include <algorithm>
#include <iterator>

#include "platform.h"

void PollSchedule::NextAfter(Clock::time_point now) {
    if (interval_ <= Clock::duration::zero()) {
        next_ = now;  // no interval: one round after another
    } else if (next_ <= now) {
        const auto missed = (now - base_) / interval_;  // whole intervals gone by
        next_ = base_ + (missed + 1) * interval_;
    }
}

void PollSchedule::Taken(Clock::time_point start, Clock::time_point now) {
    if (!started_) {
        started_ = true;
        base_ = start;
        next_ = start;
    }
    last_ = start;
    next_ += interval_;
    NextAfter(now);
}

void PollSchedule::SetInterval(uint32_t intervalMs, Clock::time_point now) {
    interval_ = std::chrono::milliseconds(intervalMs);
    if (!started_) return;
    base_ = last_;
    next_ = last_ + interval_;
    NextAfter(now);
}

uint32_t StepInterval(uint32_t current, uint32_t start, int direction) {
    static const uint32_t kLadder[] = {10,   20,    50,    100,   200,    500,    1000,    2000,
                                       5000, 10000, 30000, 60000, 300000, 600000, 1800000, 3600000};
    std::vector<uint32_t> ladder(std::begin(kLadder), std::end(kLadder));
    ladder.push_back(start);
    std::sort(ladder.begin(), ladder.end());
    if (direction < 0) {
        const auto lower = std::lower_bound(ladder.begin(), ladder.end(), current);
        return lower == ladder.begin() ? ladder.front() : *(lower - 1);
    }
    const auto higher = std::upper_bound(ladder.begin(), ladder.end(), current);
    return higher == ladder.end() ? ladder.back() : *higher;
}

bool SleepUntilDue(PollSchedule& schedule) {
    for (;;) {
        if (plat_termination_requested()) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              schedule.Next() - PollSchedule::Clock::now())
                              .count();
        if (left <= 0) return true;
        plat_sleep_ms(static_cast<uint32_t>(std::min<long long>(left, 50)));
    }
}

int RunRounds(const PluginApi& api, const std::vector<HostSource>& sources, uint32_t rounds,
              PollSchedule& schedule, const RoundConsumer& consume, const RoundWait& wait) {
    for (uint64_t number = 1; rounds == 0 || number <= rounds; ++number) {
        if (number > 1 && !wait(schedule)) break;
        const PollSchedule::Clock::time_point start = PollSchedule::Clock::now();
        const HostRound round = TakeRound(api, sources, number);
        const RoundVerdict verdict = consume(round);
        schedule.Taken(start, PollSchedule::Clock::now());
        if (verdict.stop) return verdict.status;
        if (plat_termination_requested()) break;
    }
    return 0;
}
