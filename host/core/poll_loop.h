// The host's one loop of polling: a round every interval, on a fixed schedule, handed to
// the outputs that consume it. The live view, too, only draws the rounds and waits here.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "host_round.h"
#include "host_source.h"
#include "plugin_api.h"

// When rounds are due: slots a fixed interval apart from the first round, so that rounds
// do not drift. After a stall (the process stopped, a write that blocked, a round slower
// than the interval) the missed slots are skipped, never fired at once. A new interval
// starts a new grid from the last round.
class PollSchedule {
public:
    using Clock = std::chrono::steady_clock;
    explicit PollSchedule(uint32_t intervalMs) : interval_(std::chrono::milliseconds(intervalMs)) {}

    uint32_t IntervalMs() const {
        return static_cast<uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(interval_).count());
    }
    Clock::time_point Next() const { return next_; }
    // A round started at `start` and ended at `now`: the next is due at the first slot
    // after `now`.
    void Taken(Clock::time_point start, Clock::time_point now);
    void SetInterval(uint32_t intervalMs, Clock::time_point now);

private:
    Clock::duration interval_;
    bool started_ = false;
    Clock::time_point base_{};  // the grid's first slot
    Clock::time_point last_{};  // the last round's start
    Clock::time_point next_{};
    void NextAfter(Clock::time_point now);
};

// The interval one step faster (`direction` < 0) or slower (> 0) than `current` on a fixed
// ladder of intervals, which holds `start` too, so that a step one way and one back
// returns where it was.
uint32_t StepInterval(uint32_t current, uint32_t start, int direction);

// What an output says after a round: go on, or stop with an exit status.
struct RoundVerdict {
    bool stop;
    int status;
};
using RoundConsumer = std::function<RoundVerdict(const HostRound&)>;
// How the loop waits for the next round; false ends the rounds with status 0. The live
// view draws and takes keys meanwhile, and may change the schedule's interval.
using RoundWait = std::function<bool(PollSchedule& schedule)>;

// Sleeps until the next round is due, in steps short enough to answer a termination
// signal soon; false when one came.
bool SleepUntilDue(PollSchedule& schedule);

// Polls `rounds` rounds (0: until told to stop) on the schedule. Ends early when an output
// stops it, `wait` says so or a termination signal comes (then with status 0). Returns the
// exit status.
int RunRounds(const PluginApi& api, const std::vector<HostSource>& sources, uint32_t rounds,
              PollSchedule& schedule, const RoundConsumer& consume,
              const RoundWait& wait = SleepUntilDue);
