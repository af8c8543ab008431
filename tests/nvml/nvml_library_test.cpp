// The NVML counter library, bound as the probe and the plug-in bind it, over the stand-in
// driver library and a scenario of its GPUs.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "counter_library.h"
#include "gpu_clients.h"
#include "platform.h"
#include "temp_dir.h"

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class NvmlLibrary : public ::testing::Test {
protected:
    void TearDown() override { Shutdown(); }

    // Starts the library over GPUs that the scenario describes; returns the bind's status.
    int32_t Start(const std::string& scenario) {
        const std::string path =
            dir_.Write("scenario.txt", scenario + "\nrecord " + Record() + "\n");
        setenv("ZARMITE_NVML_SCENARIO", path.c_str(), 1);
        setenv("ZARMITE_SAMPLE_PERIOD_MS", "20", 1);  // a reading every 20 ms
        return BindCounterLibrary();
    }
    std::string Record() const { return dir_.Path("record.txt"); }
    // How often the driver was called so, from the record's line `from` on.
    int CountCalls(const std::string& line, size_t from = 0) const {
        std::ifstream in(Record());
        int count = 0;
        size_t number = 0;
        for (std::string got; std::getline(in, got); ++number)
            count += number >= from && got == line;
        return count;
    }
    size_t RecordLines() const {
        std::ifstream in(Record());
        size_t lines = 0;
        for (std::string got; std::getline(in, got);) ++lines;
        return lines;
    }
    std::string Name(int32_t index) {
        char text[200];
        uint32_t length = sizeof text;
        return GetCounterName(index, text, &length) == 0 ? text : "<fails>";
    }
    std::string Description(int32_t index) {
        char text[200];
        uint32_t length = sizeof text;
        return GetCounterDescription(index, text, &length) == 0 ? text : "<fails>";
    }
    // Value and cycle as "V/C", or the failing status.
    std::string Value(int32_t index) {
        uint64_t value = 0, cycle = 0;
        const int32_t status = GetCounterValue(index, 0, &value, &cycle);
        if (status != 0) return "status " + std::to_string(status);
        return std::to_string(value) + "/" + std::to_string(cycle);
    }
    void AddAll(int32_t first, int32_t count) {
        for (int32_t i = first; i < first + count; ++i) ASSERT_EQ(AddCounter(i), 0) << i;
    }
    void SampleNow() {
        uint32_t count = 0;
        ASSERT_EQ(Sample(nullptr, &count), 0);
    }

    TempDir dir_;
};

TEST_F(NvmlLibrary, SixteenCountersAGpuThenTheLaterOnesWithStableNamesKindsAndDescriptions) {
    ASSERT_EQ(Start("gpus 2\nname 1 Test Board X"), 0);
    uint32_t count = 0;
    ASSERT_EQ(GetNumCounters(&count), 0);
    EXPECT_EQ(count, 78u);
    const char* names[16] = {"busy",
                             "memory_busy",
                             "encoder_busy",
                             "decoder_busy",
                             "graphics_clock_mhz",
                             "sm_clock_mhz",
                             "memory_clock_mhz",
                             "video_clock_mhz",
                             "temperature_c",
                             "power_mw",
                             "fan_speed",
                             "memory_used_mib",
                             "memory_free_mib",
                             "memory_total_mib",
                             "pcie_rx_kbps",
                             "pcie_tx_kbps"};
    const bool percent[16] = {true,  true,  true, true,  false, false, false, false,
                              false, false, true, false, false, false, false, false};
    for (int32_t g = 0; g < 2; ++g) {
        for (int32_t m = 0; m < 16; ++m) {
            const int32_t index = g * 16 + m;
            EXPECT_EQ(Name(index), "gpu" + std::to_string(g) + "_" + names[m]);
            uint64_t kind = 7;
            ASSERT_EQ(GetCounterAttribute(index, kCounterKindAttribute, &kind), 0);
            EXPECT_EQ(kind == 0, percent[m]) << index;
        }
    }
    EXPECT_EQ(Description(16), "Share of time the GPU was busy (GPU 1, Test Board X)");
    EXPECT_EQ(Description(2), "Share of time encoder was busy (GPU 0, Stand-in GPU 0)");
    // The later metrics follow every GPU's first 16: GPU g's j-th is counter 32 + 23g + j.
    const struct {
        int32_t index;
        const char* name;
        bool percent, cumulative;
    } later[] = {
        {32, "gpu0_sm_active", true, false},     {38, "gpu0_dram_active", true, false},
        {41, "gpu0_power_limited", true, false}, {44, "gpu0_energy_j", false, true},
        {50, "gpu0_xid_errors", false, true},    {51, "gpu0_last_xid", false, false},
        {54, "gpu0_pcie_replays", false, true},  {55, "gpu1_sm_active", true, false},
        {71, "gpu1_ecc_corrected", false, true}, {77, "gpu1_pcie_replays", false, true},
        {0, "gpu0_busy", true, false},           {31, "gpu1_pcie_tx_kbps", false, false},
    };
    for (const auto& counter : later) {
        EXPECT_EQ(Name(counter.index), counter.name);
        uint64_t kind = 7, cumulative = 7;
        ASSERT_EQ(GetCounterAttribute(counter.index, kCounterKindAttribute, &kind), 0);
        ASSERT_EQ(GetCounterAttribute(counter.index, kCounterCumulativeAttribute, &cumulative), 0);
        EXPECT_EQ(kind == 0, counter.percent) << counter.name;
        EXPECT_EQ(cumulative == 1, counter.cumulative) << counter.name;
    }
    uint64_t attribute = 0;
    EXPECT_NE(GetCounterAttribute(0, 4, &attribute), 0) << "an attribute no library has";
    EXPECT_EQ(Name(78), "<fails>");
    EXPECT_EQ(Name(-1), "<fails>");
    EXPECT_NE(AddCounter(78), 0);
}

TEST_F(NvmlLibrary, EveryMetricReadsItsQuery) {
    ASSERT_EQ(Start("set 0 utilization 37 12\nset 0 encoder 8\nset 0 decoder 9\n"
                    "set 0 graphics 1710\nset 0 sm 1650\nset 0 memclock 9501\nset 0 video 1230\n"
                    "set 0 temperature 61\nset 0 power 215000\nset 0 fan 104\n"
                    "set 0 memory 25769803776 17179869184 7516192768 1073741824\n"
                    "set 0 pcie-rx 5120\nset 0 pcie-tx 640"),
              0);
    AddAll(0, 16);
    SampleNow();
    const char* expected[16] = {"37/100",  "12/100",  "8/100",  "9/100",    "1710/1",  "1650/1",
                                "9501/1",  "1230/1",  "61/1",   "215000/1", "104/100", "7168/1",
                                "16384/1", "24576/1", "5120/1", "640/1"};
    for (int32_t m = 0; m < 16; ++m) EXPECT_EQ(Value(m), expected[m]) << Name(m);
}

// The later counters of four GPUs (GPU g's j-th is counter 64 + 23g + j): what each reads,
// and what the description says where a GPU cannot give one.
TEST_F(NvmlLibrary, TheLaterCountersReadWhatTheGpuSaysOfItselfAndWhyNot) {
    ASSERT_EQ(Start("gpus 4\nset 0 reasons 200\ngpm-fails 0 5 3\nset 0 ecc 7 2\nset 0 remap 1 0\n"
                    "set 0 replays 3\nset 0 memtemp 82\nset 0 power 0\nset 0 energy 12345678\n"
                    "xid 0 43 3\nunsupported 1 gpm\nmig 2\nunsupported 3 ecc\n"
                    "unsupported 3 events"),
              0);
    AddAll(64, 4 * 23);
    SampleNow();
    const struct {
        int32_t counter;
        const char* value;
        const char* why;  // what the description says after the meaning; "" for nothing
    } cases[] = {
        {64, "6250/10000", ""},  // SMs 62.5 % busy, in hundredths
        {66, "status 3", ""},    // tensor activity failed alone
        {69, "300/10000", ""},
        {70, "2700/10000", ""},
        {71, "104857/1", ""},  // 100 MiB/s as KB/s
        {73, "100/100", ""},   // power brake, thermal and hardware slowdown at once
        {74, "100/100", ""},
        {75, "100/100", ""},
        {76, "12345/1", ""},  // mJ as J
        {77, "status 3", ": not available on this GPU (the driver does not publish it)"},
        {78, "82/1", ""},
        {80, "7/1", ""},
        {81, "2/1", ""},
        {82, "3/1", ""},   // XID events since the start
        {83, "43/1", ""},  // and the last one's code
        {84, "1/1", ""},
        {85, "0/1", ""},
        {86, "3/1", ""},
        {87, "status 3", ": not available on this GPU (GPM needs Hopper or later)"},
        {93, "status 3", ": not available on this GPU (GPM needs Hopper or later)"},
        {110, "status 3", ": not available on this GPU (a partitioned GPU)"},
        {96, "0/100", ""},  // no reason holds GPU 1's clocks
        {105, "0/1", ""},   // nor any XID error
        {149, "status 3", ": not available on this GPU (not supported by this GPU or driver)"},
        {151, "status 3", ": not available on this GPU (not supported by this GPU or driver)"},
        {133, "6250/10000", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Value(c.counter), c.value) << Name(c.counter);
        const std::string description = Description(c.counter);
        const std::string gpu = " (GPU " + std::to_string((c.counter - 64) / 23);
        if (*c.why == '\0')
            EXPECT_EQ(description.find("not available"), std::string::npos) << description;
        else
            EXPECT_NE(description.find(c.why + gpu), std::string::npos) << description;
    }
    EXPECT_EQ(CountCalls("event wait of 0 ms"), 0) << "the events are never waited for";
}

// A driver older than these entry points: the clocks' reasons under their older name, and
// every other later counter says the driver is too old.
TEST_F(NvmlLibrary, AnOldDriverReadsTheClocksReasonsUnderTheirOlderNameAndSaysWhatItLacks) {
    ASSERT_EQ(Start("old-driver\nset 0 reasons 4"), 0);
    AddAll(16, 23);
    SampleNow();
    EXPECT_EQ(Value(25), "100/100");
    EXPECT_EQ(Value(26), "0/100");
    for (int32_t counter : {16, 24, 28, 30, 32, 34, 35, 36, 38}) {
        EXPECT_NE(Value(counter).find("status "), std::string::npos) << Name(counter);
        EXPECT_NE(Description(counter).find(": not available on this GPU (the driver is too old)"),
                  std::string::npos)
            << Description(counter);
    }
}

TEST_F(NvmlLibrary, MemoryInformationFallsBackToItsFirstVersion) {
    // Version 1's "used" includes what the driver reserves.
    ASSERT_EQ(Start("no-memory-v2\nset 0 memory 25769803776 17179869184 7516192768 1073741824"), 0);
    AddCounter(11);
    SampleNow();
    EXPECT_EQ(Value(11), "8192/1");
}

TEST_F(NvmlLibrary, UnsupportedMetricsAndRefusedHandlesFailTheirValuesOnly) {
    ASSERT_EQ(Start("gpus 2\nunsupported 0 fan\nunsupported 0 pcie-rx\nrefuse-handle 1 999"), 0);
    AddAll(0, 32);
    SampleNow();
    EXPECT_EQ(Value(10), "status 3");
    EXPECT_EQ(Value(14), "status 3");
    EXPECT_EQ(Value(15), "2000/1");
    EXPECT_EQ(Value(0), "40/100");
    // The refused GPU keeps its counters, names and kinds.
    EXPECT_EQ(Name(16), "gpu1_busy");
    EXPECT_EQ(Description(16), "Share of time the GPU was busy (GPU 1, name unknown)");
    for (int32_t i = 16; i < 32; ++i) EXPECT_EQ(Value(i), "status 999") << i;
}

TEST_F(NvmlLibrary, AGpuThatFallsOffTheBusIsReadAgainWhenItComesBack) {
    const std::string flag = dir_.Write("lost", "");
    ASSERT_EQ(Start("lost-while 0 " + flag), 0);
    AddCounter(0);
    AddCounter(8);
    SampleNow();
    EXPECT_EQ(Value(0), "status 15");
    EXPECT_EQ(Value(8), "status 15");
    std::remove(flag.c_str());
    // The sampler reads every 20 ms; within a second the GPU is back.
    for (int i = 0; i < 100 && (Value(0) != "40/100" || Value(8) != "55/1"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        SampleNow();
    }
    EXPECT_EQ(Value(0), "40/100");
    EXPECT_EQ(Value(8), "55/1");
}

TEST_F(NvmlLibrary, TheDriverStartsOnceAndEndsOnceForEachStart) {
    ASSERT_EQ(Start(""), 0);
    for (int i = 0; i < 5; ++i) ASSERT_EQ(BindCounterLibrary(), 0);  // the plug-in binds per poll
    EXPECT_EQ(CountCalls("nvmlInit_v2"), 1);
    Shutdown();
    Shutdown();
    EXPECT_EQ(CountCalls("nvmlShutdown"), 1);
    uint32_t count = 0;
    EXPECT_NE(GetNumCounters(&count), 0) << "ended";
    ASSERT_EQ(BindCounterLibrary(), 0);
    EXPECT_EQ(CountCalls("nvmlInit_v2"), 2);
    ASSERT_EQ(GetNumCounters(&count), 0);
    EXPECT_EQ(count, 39u);
}

TEST_F(NvmlLibrary, StartFailuresAreTheDriversCodesNegated) {
    EXPECT_EQ(Start("init-fails 9"), -9);
    EXPECT_EQ(Start("count-fails 999"), -999);
    EXPECT_EQ(CountCalls("nvmlShutdown"), 1) << "a failed count still ends the driver's use";
    EXPECT_EQ(Start(""), 0);
}

TEST_F(NvmlLibrary, OnlyTheSamplingSetIsReadAndOneQueryServesEveryMetricOfIt) {
    ASSERT_EQ(Start("gpus 2"), 0);
    AddCounter(0);   // busy
    AddCounter(1);   // memory_busy: the same query
    AddCounter(13);  // memory_total_mib
    SampleNow();
    // The first readings may have begun before all three were added; from here on every
    // reading is of all three.
    const size_t full = RecordLines();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    SampleNow();

    // Once the set is emptied, nothing is read at all.
    RemoveAllCounters();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int before = CountCalls("utilization 0");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(CountCalls("utilization 0"), before);

    Shutdown();  // no reading is in progress while the record is counted
    const int memory = CountCalls("memory 0", full);
    EXPECT_GE(memory, 2);
    // One utilisation query a reading serves both counters (a reading may have been under
    // way when the record was first counted).
    EXPECT_LE(CountCalls("utilization 0", full), memory + 1);
    EXPECT_EQ(CountCalls("power 0"), 0);
    EXPECT_EQ(CountCalls("pcie-rx 0"), 0);
    EXPECT_EQ(CountCalls("utilization 1"), 0) << "nothing of GPU 1 was added";
}

TEST_F(NvmlLibrary, SlowDriverQueriesNeverHoldAPoll) {
    ASSERT_EQ(Start("delay pcie-rx 20\ndelay pcie-tx 20\ndelay power 10"), 0);
    AddAll(0, 16);
    SampleNow();  // the first reading of new counters is waited for
    EXPECT_EQ(Value(14), "1000/1");
    std::vector<double> polls;
    for (int i = 0; i < 300; ++i) {
        const auto start = Clock::now();
        BindCounterLibrary();
        AddCounter(i % 16);
        SampleNow();
        Value(i % 16);
        polls.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(polls.begin(), polls.end());
    // Far below one slow query even under the sanitizers.
    EXPECT_LT(polls[polls.size() * 99 / 100], 10000.0);
}

TEST_F(NvmlLibrary, CallsWithBadArgumentsOrAfterTheEndFailWithoutHarm) {
    ASSERT_EQ(Start("name-unterminated 0"), 0);
    EXPECT_EQ(Description(0).size(),
              std::string("Share of time the GPU was busy (GPU 0, )").size() + 95)
        << "the driver's unterminated name is cut at its buffer";
    uint64_t value = 0, cycle = 0;
    EXPECT_NE(GetNumCounters(nullptr), 0);
    EXPECT_NE(GetCounterAttribute(0, 1, &value), 0);
    EXPECT_NE(GetCounterAttribute(0, kCounterKindAttribute, nullptr), 0);
    EXPECT_NE(GetCounterValue(0, 0, nullptr, &cycle), 0);
    EXPECT_EQ(GetCounterValue(3, 0, &value, &cycle), 2) << "not added";
    char text[4];
    uint32_t length = 0;
    EXPECT_NE(GetCounterName(0, text, &length), 0);
    length = sizeof text;
    EXPECT_EQ(GetCounterName(0, text, &length), 0);
    EXPECT_STREQ(text, "gpu");
    EXPECT_EQ(length, sizeof "gpu0_busy");
    Shutdown();
    EXPECT_NE(AddCounter(0), 0);
    EXPECT_NE(RemoveAllCounters(), 0);
    uint32_t count = 0;
    EXPECT_NE(Sample(nullptr, &count), 0);
    EXPECT_NE(GetCounterValue(0, 0, &value, &cycle), 0);
    EXPECT_EQ(Name(0), "<fails>");
    EXPECT_NE(GetCounterAttribute(0, kCounterKindAttribute, &value), 0);
}

// A driver query that never returns, until the test lets it: its counters fail once it
// is late, every other counter (on its GPU too) keeps being read, and neither a poll nor
// a description nor the end waits for it.
TEST_F(NvmlLibrary, AQueryThatNeverReturnsHoldsUpOnlyItsOwnCounters) {
    const std::string block = dir_.Write("block", "");
    ASSERT_EQ(Start("gpus 2\nblock 0 power " + block), 0);
    double longest = 0;
    for (int32_t i = 0; i < 32; ++i) {  // a host's first round: add, sample, read
        const auto start = Clock::now();
        AddCounter(i);
        SampleNow();
        Value(i);
        longest = std::max(longest, MillisecondsSince(start));
    }
    EXPECT_LT(longest, 1500) << "a poll waits at most until the stuck query is late";
    EXPECT_EQ(Value(9), "status 10") << "late";
    EXPECT_EQ(Value(0), "40/100");
    EXPECT_EQ(Value(8), "55/1") << "the same GPU's other queries";
    EXPECT_EQ(Value(16 + 9), "123456/1") << "the other GPU's power";
    const int before = CountCalls("utilization 0");
    double slowest = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (CountCalls("utilization 0") < before + 3 && Clock::now() < deadline) {
        const auto start = Clock::now();
        BindCounterLibrary();
        SampleNow();
        Value(0);
        slowest = std::max(slowest, MillisecondsSince(start));
    }
    EXPECT_GE(CountCalls("utilization 0"), before + 3) << "fresh readings of the rest";
    EXPECT_LT(slowest, 100) << "no later poll waits on the stuck query";
    const auto described = Clock::now();
    EXPECT_EQ(Description(9), "Board power draw, mW (GPU 0, Stand-in GPU 0)");
    EXPECT_LT(MillisecondsSince(described), 100);

    const auto end = Clock::now();
    Shutdown();
    EXPECT_LT(MillisecondsSince(end), 2500);
    EXPECT_EQ(CountCalls("nvmlShutdown"), 0) << "the driver is not called while a call is stuck";
    std::remove(block.c_str());
}

TEST_F(NvmlLibrary, AStartSlowerThanTwoSecondsGoesOnInTheBackground) {
    // Four GPUs whose names take a second each.
    const auto start = Clock::now();
    EXPECT_EQ(Start("gpus 4\ndelay name 1000"), -1000);
    EXPECT_LT(MillisecondsSince(start), 3000);
    const auto again = Clock::now();
    EXPECT_EQ(BindCounterLibrary(), -1000) << "still starting";
    EXPECT_LT(MillisecondsSince(again), 1000) << "answered at once, not after another wait";
    int32_t status = -1000;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (status == -1000 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        status = BindCounterLibrary();
    }
    EXPECT_EQ(status, 0);
    uint32_t count = 0;
    ASSERT_EQ(GetNumCounters(&count), 0);
    EXPECT_EQ(count, 156u);
    EXPECT_EQ(Description(48), "Share of time the GPU was busy (GPU 3, Stand-in GPU 3)");
}

TEST_F(NvmlLibrary, AHandleRequestThatHangsHoldsNoLock) {
    // GPU 1 hands back no handle at the start; asked again while reading, it hangs.
    ASSERT_EQ(Start("gpus 2\nnull-handle 1\nblock 1 handle " + dir_.Path("block")), 0);
    const std::string block = dir_.Write("block", "");
    AddCounter(0);
    AddCounter(16);
    SampleNow();
    const auto start = Clock::now();
    EXPECT_EQ(Description(16), "Share of time the GPU was busy (GPU 1, name unknown)");
    EXPECT_EQ(Name(17), "gpu1_memory_busy");
    SampleNow();
    EXPECT_EQ(Value(0), "40/100");
    EXPECT_NE(Value(16).substr(0, 7), "40/100");
    EXPECT_LT(MillisecondsSince(start), 1500);
    const auto end = Clock::now();
    Shutdown();
    EXPECT_LT(MillisecondsSince(end), 2500) << "the end does not wait on the hung request";
    std::remove(block.c_str());
}

TEST_F(NvmlLibrary, TheFirstRoundOf128SourcesOverEightSlowGpusIsQuick) {
    // As real drivers take: PCIe queries 20 ms, power and fan 5 ms.
    setenv("ZARMITE_SAMPLE_PERIOD_MS", "500", 1);  // the library's own period
    const std::string path = dir_.Write(
        "scenario.txt", "gpus 8\ndelay pcie-rx 20\ndelay pcie-tx 20\ndelay power 5\ndelay fan 5\n");
    setenv("ZARMITE_NVML_SCENARIO", path.c_str(), 1);
    ASSERT_EQ(BindCounterLibrary(), 0);
    // A host's round: every source bound, added, sampled and read in turn.
    const auto round = [&] {
        const auto start = Clock::now();
        for (int32_t i = 0; i < 128; ++i) {
            BindCounterLibrary();
            AddCounter(i);
            SampleNow();
            Value(i);
        }
        return MillisecondsSince(start);
    };
    const double firstRound = round();
    EXPECT_LT(firstRound, 1500);
    EXPECT_EQ(Value(127), "2000/1");
    EXPECT_LT(round(), 100) << "no poll after the first round waits";
    printf("first round of 128 sources over 8 slow GPUs: %.0f ms\n", firstRound);
}

TEST_F(NvmlLibrary, GarbageFromTheDriverFailsCleanly) {
    EXPECT_EQ(Start("gpus 4000000000"), -1001) << "more GPUs than any machine has";
    ASSERT_EQ(Start("null-handle 0"), 0);
    AddCounter(0);
    SampleNow();
    EXPECT_EQ(Value(0), "status 999") << "a null handle is no handle, not a reading of zeros";
}

// Who uses each GPU, through the driver's per-process queries: a process running both
// kinds of work counts as compute, with the larger of its two memory figures; a process
// without samples used nothing; one the driver stops listing is gone; a partitioned GPU
// gives memory only. The GPUs' own busy grows with their busy readings.
TEST_F(NvmlLibrary, ItsClientsEntryTellsWhoUsesEachGpu) {
    const std::string self = std::to_string(getpid());
    const std::string running = dir_.Write("job-running", "");
    ASSERT_EQ(
        Start("gpus 2\nprocess 0 " + self + " 1048576 compute\nprocess 0 " + self +
              " 2097152 graphics\nprocess-use 0 " + self +
              " 50 10 0\nprocess 0 999991 -1 graphics\nprocess 0 999992 4096 compute " + running +
              "\nmig 1\nprocess 1 " + self + " 1000 compute\nprocess-use 1 " + self + " 80 0 0"),
        0);
    ASSERT_EQ(AddCounter(0), 0);
    ASSERT_EQ(AddCounter(16), 0);
    void* library = plat_library_loaded(kCounterLibraryFileName);
    const auto entry =
        reinterpret_cast<GpuClientsEntry>(plat_library_symbol(library, kGpuClientsEntryName));
    ASSERT_NE(entry, nullptr);
    GpuClient clients[8];
    GpuDevice devices[2];
    const auto take = [&] {
        GpuClients snapshot;
        memset(&snapshot, 0, sizeof snapshot);
        snapshot.size = sizeof snapshot;
        snapshot.clientSize = sizeof(GpuClient);
        snapshot.capacity = 8;
        snapshot.clients = clients;
        snapshot.deviceCapacity = 2;
        snapshot.devices = devices;
        EXPECT_EQ(entry(&snapshot), 0);
        return snapshot;
    };
    const auto find = [&](const GpuClients& snapshot, uint32_t gpu, uint32_t pid) {
        for (uint32_t c = 0; c < snapshot.count; ++c)
            if (clients[c].gpu == gpu && clients[c].pid == pid) return &clients[c];
        return static_cast<GpuClient*>(nullptr);
    };
    const auto waitFor = [&](const std::function<bool(const GpuClients&)>& seen) {
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(5);
        GpuClients snapshot = take();
        while (!seen(snapshot) && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            SampleNow();
            snapshot = take();
        }
        return snapshot;
    };
    const GpuClients first = waitFor([&](const GpuClients& s) { return s.count == 4; });
    ASSERT_EQ(first.count, 4u);
    const GpuClient mine = *find(first, 0, getpid());
    EXPECT_EQ(mine.deviceBytes, 2u << 20) << "the larger of its two figures";
    EXPECT_EQ(std::string(mine.name, strnlen(mine.name, sizeof mine.name)), "zarmite_nvml_te")
        << "its name from /proc";
    const GpuClient* unnamed = find(first, 0, 999991);
    ASSERT_NE(unnamed, nullptr);
    EXPECT_EQ(unnamed->deviceBytes, 0u) << "memory the driver does not know is none";
    EXPECT_STREQ(unnamed->name, "") << "a process this machine does not show has no name";
    const GpuClients later = waitFor([&](const GpuClients& s) {
        const GpuClient* now = find(s, 0, getpid());
        return now != nullptr && s.atNs > first.atNs + 200000000;
    });
    const GpuClient* now = find(later, 0, getpid());
    ASSERT_NE(now, nullptr);
    const double wall = static_cast<double>(later.atNs - first.atNs);
    const double compute =
        static_cast<double>(now->busyNs[kEngineCompute] - mine.busyNs[kEngineCompute]) / wall;
    const double encode =
        static_cast<double>(now->busyNs[kEngineVideoEncode] - mine.busyNs[kEngineVideoEncode]) /
        wall;
    EXPECT_GT(compute, 0.35) << "half of the time busy, as its samples say";
    EXPECT_LT(compute, 0.65);
    EXPECT_GT(encode, 0.05);
    EXPECT_LT(encode, 0.15);
    EXPECT_EQ(now->busyNs[kEngineGraphics], 0u) << "compute and graphics work counts as compute";
    const GpuClient* idle = find(later, 0, 999991);
    ASSERT_NE(idle, nullptr) << "no sample is no use, not a missing process";
    for (uint64_t busy : idle->busyNs) EXPECT_EQ(busy, 0u);
    const GpuClient* partitioned = find(later, 1, getpid());
    ASSERT_NE(partitioned, nullptr);
    EXPECT_EQ(partitioned->deviceBytes, 1000u);
    EXPECT_EQ(partitioned->busyNs[kEngineCompute], 0u) << "a partitioned GPU gives memory only";
    ASSERT_EQ(later.deviceCount, 2u);
    EXPECT_EQ(devices[0].known, 1u);
    const double deviceShare = static_cast<double>(devices[0].busyNs) / wall;
    EXPECT_GT(deviceShare, 0.2) << "the GPU's own busy of 40 %";
    // The job ends: the driver lists it no more, and it is gone.
    ASSERT_EQ(remove(running.c_str()), 0);
    const GpuClients after =
        waitFor([&](const GpuClients& s) { return find(s, 0, 999992) == nullptr; });
    EXPECT_EQ(find(after, 0, 999992), nullptr);
    EXPECT_NE(find(after, 0, getpid()), nullptr);
    plat_library_close(library);
}

#if !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
// The sanitizers cannot start threads in the child of a process with threads: their own
// thread registries may be held by a thread that the fork left behind.
TEST_F(NvmlLibrary, AForkedChildReadsLiveValuesAndEndsAtOnce) {
    ASSERT_EQ(Start(""), 0);
    AddCounter(0);
    SampleNow();
    ASSERT_EQ(Value(0), "40/100");
    const auto forked = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        const int before = CountCalls("utilization 0");
        AddCounter(8);
        SampleNow();
        bool live = Value(8) == "55/1";
        const auto deadline = Clock::now() + std::chrono::seconds(2);
        while (CountCalls("utilization 0") < before + 3 && Clock::now() < deadline) SampleNow();
        live = live && CountCalls("utilization 0") >= before + 3;
        exit(live ? 0 : 1);  // through the library's exit path
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_LT(MillisecondsSince(forked), 2000);
}
#endif

}  // namespace
