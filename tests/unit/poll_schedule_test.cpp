// When the host's rounds are due, and the intervals + and - step through.
#include <gtest/gtest.h>

#include "poll_loop.h"

namespace {

using Clock = PollSchedule::Clock;
using std::chrono::milliseconds;

TEST(PollSchedule, RoundsKeepTheirSlotsAndAStallSkipsTheMissedOnes) {
    const Clock::time_point t0{};
    PollSchedule schedule(100);
    schedule.Taken(t0, t0 + milliseconds(5));
    EXPECT_EQ(schedule.Next(), t0 + milliseconds(100));
    // A round that starts late keeps the grid: the next slot is still at 200.
    schedule.Taken(t0 + milliseconds(130), t0 + milliseconds(140));
    EXPECT_EQ(schedule.Next(), t0 + milliseconds(200));
    // Stopped for a second: the missed slots are skipped, not fired one after another.
    schedule.Taken(t0 + milliseconds(200), t0 + milliseconds(1234));
    EXPECT_EQ(schedule.Next(), t0 + milliseconds(1300));
    // A new interval starts a grid from the last round.
    schedule.SetInterval(1000, t0 + milliseconds(1250));
    EXPECT_EQ(schedule.Next(), t0 + milliseconds(2200)) << "1200 has gone by";
    schedule.SetInterval(50, t0 + milliseconds(1260));
    EXPECT_EQ(schedule.Next(), t0 + milliseconds(1300)) << "the slot after now, on the new grid";
    EXPECT_EQ(schedule.IntervalMs(), 50u);
    PollSchedule flat(0);
    flat.Taken(t0, t0 + milliseconds(7));
    EXPECT_EQ(flat.Next(), t0 + milliseconds(7)) << "no interval: the next round at once";
}

TEST(PollSchedule, FasterAndSlowerStepAFixedLadderThatHoldsTheStart) {
    const struct {
        uint32_t current, start;
        int direction;
        uint32_t expected;
    } cases[] = {
        {50, 50, -1, 20},          {20, 50, +1, 50},       {300, 300, -1, 200},
        {200, 300, +1, 300},       {10, 50, -1, 10},       {3600000, 50, +1, 3600000},
        {60000, 60000, -1, 30000}, {1000, 1000, +1, 2000},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StepInterval(c.current, c.start, c.direction), c.expected)
            << c.current << " from " << c.start << " by " << c.direction;
    // + then - returns where it was, from anywhere the view starts.
    for (uint32_t start : {10u, 25u, 50u, 300u, 1000u, 7777u})
        EXPECT_EQ(StepInterval(StepInterval(start, start, -1), start, +1),
                  start == 10 ? 20u : start);
}

}  // namespace
