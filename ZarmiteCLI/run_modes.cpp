#include "run_modes.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "bind_failure.h"
#include "counter_library.h"
#include "counter_report.h"
#include "number_text.h"

namespace {

constexpr uint32_t kSamplePauseMs = 1000;
constexpr int kSweepSamples = 5;

// Waiting ends early when nobody can read the prompt any more.
void WaitForKey(const ProbeIo& io) {
    while (!io.outputLost && !io.keyPressed(io.context)) io.sleepMs(io.context, kSamplePauseMs);
}

void RunListMode(const ProbeIo& io, uint32_t count) {
    ProbePrint(io, "No argument provided - querying all available counters\n\n");
    const uint32_t end = ProbeCounterEnd(count);
    for (uint32_t i = 0; i < end && !io.outputLost; ++i) {
        PrintCounterInfo(io, static_cast<int32_t>(i));
        PrintCounterType(io, static_cast<int32_t>(i));
        ProbePrint(io, "\n");
    }
    ProbePrint(io, "\nPress any key to exit");
    WaitForKey(io);
}

void RunSweepMode(const ProbeIo& io, uint32_t count, const char* argument) {
    ProbePrint(io, "Counter provided via argument: %s\n", argument);
    ProbePrint(io, "\nSampling all available counters\nPress Ctrl+C to cancel\n");
    const uint32_t end = ProbeCounterEnd(count);
    for (uint32_t j = 0; j < end && !io.outputLost; ++j) {
        const int32_t counter = static_cast<int32_t>(j);
        ProbePrint(io, "\n");
        PrintCounterInfo(io, counter);
        PrintCounterType(io, counter);
        int32_t status = AddCounter(counter);
        if (status != 0) {
            ProbePrint(io, "<<<Error adding counter: %u>>>", static_cast<uint32_t>(status));
            continue;
        }
        for (int sample = 0; sample < kSweepSamples && !io.outputLost; ++sample) {
            PrintCounterSample(io, counter);
            io.sleepMs(io.context, kSamplePauseMs);
        }
        RemoveAllCounters();
    }
    ProbePrint(io, "\nPress any key to exit");
    WaitForKey(io);
}

void RunSingleMode(const ProbeIo& io, const char* argument, uint32_t count) {
    ProbePrint(io, "Counter provided via argument: %s\n", argument);
    int32_t counter = 0;
    if (!ParseLeadingInt32(argument, &counter)) {
        ProbePrint(io, "Not a counter index: %s\n", argument);
        return;
    }
    int32_t status = AddCounter(counter);
    if (status != 0) {
        ProbePrint(io, "Error adding counter: %u\n", static_cast<uint32_t>(status));
        // The number printed is the library's status, which reads like a counter's.
        if (io.note != nullptr && (counter < 0 || static_cast<uint32_t>(counter) >= count)) {
            const std::string text =
                "there is no counter " + std::to_string(counter) +
                (count == 0 ? ": the library offers none"
                            : ": the library offers counters 0 to " + std::to_string(count - 1)) +
                " (the number above is its status)";
            io.note(io.context, text.c_str());
        }
        return;
    }
    ProbePrint(io, "Successfully added counter: %d\n\n", counter);
    PrintCounterInfo(io, counter);
    PrintCounterType(io, counter);
    ProbePrint(io, "\nPress any key to stop collection\n\n");
    while (!io.outputLost && !io.keyPressed(io.context)) {
        PrintCounterSample(io, counter);
        io.sleepMs(io.context, kSamplePauseMs);
    }
    // The counter stays added until Shutdown.
}

void RunModes(int argc, const char* const* argv, const ProbeIo& io) {
    int32_t status = BindCounterLibrary();
    if (status != 0) {
        ProbePrint(io, "NVPerfAPI initialization failed with error code: %u\n",
                   static_cast<uint32_t>(status));
        if (io.note != nullptr) io.note(io.context, BindFailureText(status).c_str());
        return;
    }
    ProbePrint(io, "NVPerfAPI initialization successful\n");
    uint32_t count = 0;
    status = GetNumCounters(&count);
    if (status != 0) {
        ProbePrint(io, "NVPMGetNumCounters failed with error code: %u\n",
                   static_cast<uint32_t>(status));
        return;
    }
    ProbePrint(io, "Number of available counters: %u\n", count);

    if (argc != 2) {
        RunListMode(io, count);
    } else if (strcmp(argv[1], "sample") == 0) {
        RunSweepMode(io, count, argv[1]);
    } else {
        RunSingleMode(io, argv[1], count);
    }
}

}  // namespace

uint32_t ProbeCounterEnd(uint32_t count) {
    // Counter indices are signed 32-bit: past the largest one they would wrap negative.
    constexpr uint32_t kIndexEnd = uint32_t{INT32_MAX} + 1;
    return count < kIndexEnd ? count : kIndexEnd;
}

int RunProbe(int argc, const char* const* argv, const ProbeIo& io) {
    RunModes(argc, argv, io);
    Shutdown();  // also after a failed bind, where it returns -3 harmlessly
    return io.outputLost ? 1 : 0;
}
