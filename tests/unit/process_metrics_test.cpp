// The host's own process metrics, from /proc's texts.
#include "process_metrics.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ProcessMetrics, FiguresComeFromTheStatFieldsAfterTheCommandName) {
    // A command name with a space and a parenthesis of its own; user 250 and system 120
    // ticks, started 5000 ticks after boot, 300 resident pages.
    const std::string stat =
        "4242 (zarmite) host) S 1 4242 4242 0 -1 4194560 100 0 0 0 250 120 0 0 20 0 5 0 5000 "
        "123456789 300 18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 1 0 0 0 0 0\n";
    const std::string text = ProcessFamiliesFrom(
        stat, "\ncpu 1 2 3\nbtime 1765200000\nprocesses 9\n", 12, 1024, 100, 4096);
    for (const char* line :
         {"process_cpu_seconds_total 3.7\n", "process_resident_memory_bytes 1228800\n",
          "process_open_fds 12\n", "process_max_fds 1024\n",
          "process_start_time_seconds 1765200050\n", "# TYPE process_cpu_seconds_total counter\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "in:\n" << text;
    // What cannot be read is left out, never written as a guess.
    EXPECT_EQ(ProcessFamiliesFrom("garbage", "", -1, -1, 100, 4096), "");
    EXPECT_EQ(ProcessFamiliesFrom(stat, "no boot time", -1, -1, 100, 4096).find("start_time"),
              std::string::npos);
}

}  // namespace
