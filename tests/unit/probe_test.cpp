#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "counter_library.h"
#include "fake_counter_library.h"
#include "run_modes.h"

namespace {

// Records what the probe prints and how long it sleeps; a key is pressed once the probe
// has asked `keyAfterTests` times.
struct Console {
    std::string output;
    size_t acceptBytes = std::string::npos;  // writes past this many bytes fail
    int writes = 0;
    int sleeps = 0;
    int keyTests = 0;
    int keyAfterTests = 0;
    std::string notes;  // the sentences beside the statuses (standard error)

    ProbeIo Io() {
        return ProbeIo{[](void* self, const char* text, size_t length) {
                           Console* console = static_cast<Console*>(self);
                           ++console->writes;
                           if (console->output.size() + length > console->acceptBytes) return false;
                           console->output.append(text, length);
                           return true;
                       },
                       [](void* self, uint32_t milliseconds) {
                           EXPECT_EQ(milliseconds, 1000u);
                           ++static_cast<Console*>(self)->sleeps;
                       },
                       [](void* self) {
                           Console* console = static_cast<Console*>(self);
                           return ++console->keyTests > console->keyAfterTests;
                       },
                       this,
                       [](void* self, const char* text) {
                           static_cast<Console*>(self)->notes += std::string(text) + "\n";
                       }};
    }
};

class ProbeTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake_.counters = {
            {"busy", "Engine busy", 0, 150, 600},
            {"draws", "Draw calls", 1, 42, 600},
        };
    }
    std::string Run(std::vector<const char*> arguments) {
        arguments.insert(arguments.begin(), "ZarmiteCLI");
        EXPECT_EQ(RunProbe(static_cast<int>(arguments.size()), arguments.data(), console_.Io()), 0);
        EXPECT_TRUE(fake_.calls.empty() || fake_.calls.back() == "Shutdown");
        return console_.output;
    }

    FakeCounterLibrary fake_;
    Console console_;
};

const char kHeader[] =
    "NVPerfAPI initialization successful\n"
    "Number of available counters: 2\n";

TEST_F(ProbeTest, ListModeDescribesEveryCounterAndWaitsForAKey) {
    console_.keyAfterTests = 2;
    EXPECT_EQ(Run({}), std::string(kHeader) +
                           "No argument provided - querying all available counters\n\n"
                           "Counter 0: busy\nDescription: Engine busy\nType: Percent\n\n"
                           "Counter 1: draws\nDescription: Draw calls\nType: Raw\n\n"
                           "\nPress any key to exit");
    EXPECT_EQ(console_.sleeps, 2);
    EXPECT_EQ(fake_.CountCalls("AddCounter"), 0);
}

TEST_F(ProbeTest, TwoArgumentsSelectListMode) {
    EXPECT_NE(Run({"1", "sample"}).find("No argument provided"), std::string::npos);
}

TEST_F(ProbeTest, ZeroCountersPrintOnlyTheHeaderLines) {
    fake_.counters.clear();
    EXPECT_EQ(Run({}),
              "NVPerfAPI initialization successful\nNumber of available counters: 0\n"
              "No argument provided - querying all available counters\n\n\nPress any key to exit");
}

TEST_F(ProbeTest, StartFailuresEndTheRunThroughShutdown) {
    fake_.loadFails = true;
    EXPECT_EQ(Run({}), "NVPerfAPI initialization failed with error code: 4294967294\n");
    EXPECT_TRUE(fake_.calls.empty());  // Shutdown reached NotBoundEntry
    EXPECT_EQ(
        console_.notes.find(std::string("no counter library found: ") + kCounterLibraryFileName),
        0u)
        << console_.notes;

    fake_.loadFails = false;
    fake_.failures["GetNumCounters"] = -5;
    console_.output.clear();
    EXPECT_EQ(Run({}),
              "NVPerfAPI initialization successful\n"
              "NVPMGetNumCounters failed with error code: 4294967291\n");
}

TEST_F(ProbeTest, ReportLinesForEveryOutcome) {
    fake_.counters = {
        {"busy", "Engine busy", 0, 150, 600},
        {"big", "Large raw", 1, 5000000000ull, 6000000000ull},
        {"idle", "No cycles", 0, 5, 0},
    };
    EXPECT_EQ(Run({"sample"}),
              "NVPerfAPI initialization successful\nNumber of available counters: 3\n"
              "Counter provided via argument: sample\n"
              "\nSampling all available counters\nPress Ctrl+C to cancel\n"
              "\nCounter 0: busy\nDescription: Engine busy\nType: Percent\n"
              "Percent: 25.000000\nPercent: 25.000000\nPercent: 25.000000\n"
              "Percent: 25.000000\nPercent: 25.000000\n"
              "\nCounter 1: big\nDescription: Large raw\nType: Raw\n"
              "Value: 5000000000  Cycle: 6000000000\nValue: 5000000000  Cycle: 6000000000\n"
              "Value: 5000000000  Cycle: 6000000000\nValue: 5000000000  Cycle: 6000000000\n"
              "Value: 5000000000  Cycle: 6000000000\n"
              "\nCounter 2: idle\nDescription: No cycles\nType: Percent\n"
              "Percent: 0\nPercent: 0\nPercent: 0\nPercent: 0\nPercent: 0\n"
              "\nPress any key to exit");
    EXPECT_EQ(console_.sleeps, 15);
    EXPECT_EQ(fake_.CountCalls("RemoveAllCounters"), 3);
}

TEST_F(ProbeTest, FailedQueriesInTheReport) {
    fake_.failures["GetCounterName"] = 1;
    console_.keyAfterTests = 1;
    EXPECT_EQ(Run({"0"}), std::string(kHeader) +
                              "Counter provided via argument: 0\n"
                              "Successfully added counter: 0\n\n"
                              "\nCounter 0: <<<Error retrieving short name>>>\n"
                              "Type: Percent\n"
                              "\nPress any key to stop collection\n\n"
                              "Percent: 25.000000\n");
    EXPECT_EQ(fake_.CountCalls("GetCounterDescription"), 0);
}

TEST_F(ProbeTest, FailedDescriptionAndKindQueries) {
    fake_.failures["GetCounterDescription"] = 1;
    fake_.failures["GetCounterAttribute"] = 1;
    console_.keyAfterTests = 2;
    EXPECT_EQ(Run({"1"}), std::string(kHeader) +
                              "Counter provided via argument: 1\n"
                              "Successfully added counter: 1\n\n"
                              "Counter 1: draws\n"
                              "Could not determine counter type\n"
                              "\nPress any key to stop collection\n\n"
                              "Value: 42  Cycle: 600  Percent: 7.000000\n"
                              "Value: 42  Cycle: 600  Percent: 7.000000\n");
    EXPECT_EQ(console_.sleeps, 2);
    EXPECT_EQ(fake_.CountCalls("RemoveAllCounters"), 0);
}

TEST_F(ProbeTest, AttributeFailureWithNoCyclesPrintsPercentZero) {
    fake_.counters[1].cycle = 0;
    fake_.failures["GetCounterAttribute"] = 1;
    console_.keyAfterTests = 1;
    EXPECT_NE(Run({"1"}).find("Value: 42  Cycle: 0  Percent: 0\n"), std::string::npos);
}

TEST_F(ProbeTest, SampleAndValueFailuresCarryTheirUnsignedCodes) {
    fake_.failures["GetCounterValue"] = -1;
    console_.keyAfterTests = 1;
    EXPECT_NE(Run({"1"}).find("\n\nError 4294967295 retreiving counter value\n"),
              std::string::npos);
    fake_.failures["Sample"] = 7;
    console_.output.clear();
    console_.keyTests = 0;
    EXPECT_NE(Run({"1"}).find("\n\nError 7 sampling counter\n"), std::string::npos);
}

TEST_F(ProbeTest, AddFailures) {
    fake_.failures["AddCounter"] = 6;
    EXPECT_EQ(Run({"1"}),
              std::string(kHeader) + "Counter provided via argument: 1\nError adding counter: 6\n");
    EXPECT_EQ(console_.notes, "") << "a counter that is there failed: nothing to add";
    console_.output.clear();
    Run({"7"});
    EXPECT_EQ(console_.notes,
              "there is no counter 7: the library offers counters 0 to 1 (the number above is "
              "its status)\n");

    console_.output.clear();
    const std::string sweep = Run({"sample"});
    // The counter's texts come before the error, and no sample follows.
    EXPECT_NE(sweep.find("\nCounter 0: busy\nDescription: Engine busy\nType: Percent\n"
                         "<<<Error adding counter: 6>>>\nCounter 1: draws"),
              std::string::npos);
    EXPECT_EQ(fake_.CountCalls("Sample"), 0);
    EXPECT_EQ(fake_.CountCalls("RemoveAllCounters"), 0);
}

TEST_F(ProbeTest, SingleModeArguments) {
    console_.keyAfterTests = 0;
    // Not "sample": single mode, which has no counter called "Sample".
    EXPECT_EQ(Run({"Sample"}), std::string(kHeader) +
                                   "Counter provided via argument: Sample\n"
                                   "Not a counter index: Sample\n");
    console_.output.clear();
    EXPECT_EQ(Run({"99999999999"}), std::string(kHeader) +
                                        "Counter provided via argument: 99999999999\n"
                                        "Not a counter index: 99999999999\n");
    EXPECT_EQ(fake_.CountCalls("AddCounter"), 0);
    console_.output.clear();
    EXPECT_NE(Run({"1abc"}).find("Successfully added counter: 1\n"), std::string::npos);
    // An argument longer than any fixed buffer is printed whole.
    const std::string longArgument(3000, 'z');
    console_.output.clear();
    EXPECT_NE(Run({longArgument.c_str()}).find("Not a counter index: " + longArgument + "\n"),
              std::string::npos);
}

TEST_F(ProbeTest, OutputThatCannotBeWrittenEndsEveryModeAtOnceWithStatusOne) {
    // Single mode with no key ever pressed, and the list's wait for a key, would otherwise
    // run for ever into nothing.
    console_.keyAfterTests = 1 << 30;
    for (const char* mode : {"1", "sample", ""}) {
        Console console;
        console.keyAfterTests = 1 << 30;
        console.acceptBytes = strlen(kHeader) + 10;
        fake_.calls.clear();
        std::vector<const char*> arguments = {"ZarmiteCLI"};
        if (mode[0] != '\0') arguments.push_back(mode);
        EXPECT_EQ(RunProbe(static_cast<int>(arguments.size()), arguments.data(), console.Io()), 1)
            << mode;
        EXPECT_EQ(fake_.calls.back(), "Shutdown") << mode;
        EXPECT_LE(console.writes, 1 + 2 + 1) << mode << ": nothing is tried after the failure";
        EXPECT_LE(console.sleeps, 1) << mode;
    }
}

TEST_F(ProbeTest, ListAndSweepStopAtTheLargestSignedIndex) {
    EXPECT_EQ(ProbeCounterEnd(0), 0u);
    EXPECT_EQ(ProbeCounterEnd(14), 14u);
    EXPECT_EQ(ProbeCounterEnd(0x7FFFFFFFu), 0x7FFFFFFFu);
    EXPECT_EQ(ProbeCounterEnd(0x80000000u), 0x80000000u);
    EXPECT_EQ(ProbeCounterEnd(0xFFFFFFFFu), 0x80000000u);
}

}  // namespace
