// Windows' GPU counters as data: instance names parsed, engines summed over processes,
// adapters told apart by both halves of their LUID, and the adapter's counters made of it.
#include "gpu_instances.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "adapter_counters.h"
#include "process_usage.h"

namespace {

const char kAdapter[] = "luid_0x00000000_0x0000D1A5";
const AdapterLuid kLuid{0, 0xD1A5};

std::string Engine(int pid, int engine, const std::string& type, const char* adapter = kAdapter) {
    return "pid_" + std::to_string(pid) + "_" + adapter + "_phys_0_eng_" + std::to_string(engine) +
           "_engtype_" + type;
}

TEST(GpuInstances, NamesOfEnginesAndOfMemory) {
    GpuInstance instance;
    ASSERT_TRUE(ParseGpuInstance(
        "pid_4242_luid_0x00000001_0x0000D1A5_phys_1_eng_12_engtype_VideoDecode", &instance));
    EXPECT_EQ(instance.luid.high, 1u);
    EXPECT_EQ(instance.luid.low, 0xD1A5u);
    EXPECT_EQ(instance.phys, 1u);
    EXPECT_EQ(instance.engine, 12u);
    EXPECT_EQ(instance.engineType, "VideoDecode");
    ASSERT_TRUE(ParseGpuInstance("luid_0x00000000_0x0000ABCD_phys_0", &instance));
    EXPECT_EQ(instance.luid.low, 0xABCDu);
    EXPECT_EQ(instance.engineType, "");
    // An engine type never seen before is kept as it is.
    ASSERT_TRUE(ParseGpuInstance(Engine(1, 3, "Security_7"), &instance));
    EXPECT_EQ(instance.engineType, "Security_7");
    EXPECT_FALSE(ParseGpuInstance("_Total", &instance));
    EXPECT_FALSE(ParseGpuInstance("pid_1_luid_0xZZ_0x1", &instance));
    EXPECT_FALSE(ParseGpuInstance("luid_0x00000000", &instance));
}

TEST(GpuInstances, EnginesSumTheirProcessesAndTheBusiestEngineOfEachTypeCounts) {
    const std::vector<CounterItem> engines = {
        {Engine(100, 0, "3D"), 30.5, true},
        {Engine(200, 0, "3D"), 20.25, true},  // the same engine: 50.75
        {Engine(100, 1, "3D"), 10, true},     // another 3D engine, less busy
        {Engine(100, 2, "Copy"), 8, true},
        {Engine(100, 3, "Compute_0"), 12, true},
        {Engine(100, 4, "Compute_1"), 41, true},                         // both are compute engines
        {Engine(100, 5, "Security"), 70, true},                          // another type: busy only
        {Engine(300, 6, "VideoEncode"), 99, false},                      // not valid data: skipped
        {Engine(100, 0, "3D", "luid_0x00000001_0x0000D1A5"), 90, true},  // the other half differs
    };
    const std::vector<CounterItem> dedicated = {
        {"luid_0x00000000_0x0000D1A5_phys_0", 1073741824, true}};
    const std::vector<CounterItem> shared = {
        {"luid_0x00000000_0x0000D1A5_phys_0", 536870912, true},
        {"luid_0x00000000_0x0000D1A5_phys_1", 536870912, true}};
    const AdapterLoad load = LoadOf(kLuid, engines, dedicated, shared);
    EXPECT_TRUE(load.seen);
    EXPECT_DOUBLE_EQ(load.busy, 70);
    EXPECT_DOUBLE_EQ(load.kind[kKind3D], 50.75);
    EXPECT_DOUBLE_EQ(load.kind[kKindCopy], 8);
    EXPECT_DOUBLE_EQ(load.kind[kKindCompute], 41);
    EXPECT_DOUBLE_EQ(load.kind[kKindVideoDecode], 0) << "a type the adapter lacks reads 0";
    EXPECT_DOUBLE_EQ(load.kind[kKindVideoEncode], 0);
    EXPECT_DOUBLE_EQ(load.dedicatedBytes, 1073741824);
    EXPECT_DOUBLE_EQ(load.sharedBytes, 1073741824);

    // Many processes on one engine are clamped to 100.
    const AdapterLoad busy =
        LoadOf(kLuid, {{Engine(1, 0, "3D"), 80, true}, {Engine(2, 0, "3D"), 70, true}}, {}, {});
    EXPECT_DOUBLE_EQ(busy.busy, 100);
    EXPECT_FALSE(LoadOf(AdapterLuid{9, 9}, engines, dedicated, shared).seen);
}

TEST(GpuInstances, AdaptersNamedByTheCountersInAscendingLuidOrder) {
    const std::vector<AdapterLuid> adapters =
        AdaptersNamed({{Engine(1, 0, "3D"), 1, true},
                       {Engine(1, 0, "3D", "luid_0x00000000_0x00001234"), 1, false}},
                      {{"luid_0x00000001_0x00000001_phys_0", 5, true},
                       {"luid_0x00000000_0x0000D1A5_phys_0", 5, true}});
    ASSERT_EQ(adapters.size(), 3u);
    EXPECT_EQ(adapters[0].low, 0x1234u);
    EXPECT_EQ(adapters[1].low, 0xD1A5u);
    EXPECT_EQ(adapters[2].high, 1u);
}

TEST(AdapterCounters, PercentsKeepTwoDecimalsMemoryIsInMebibytesReservedOnesFail) {
    AdapterLoad load{70.125, {50.75, 8, 0, 0, 41}, 1073741824, 536870912, true};
    CounterReading readings[kAdapterMetrics];
    adapter_readings(load, AdapterTotals{false, 0, 0}, readings);
    EXPECT_EQ(readings[0].value, 7013u);  // 70.125 % as hundredths, rounded
    EXPECT_EQ(readings[0].cycle, kPercentCycle);
    EXPECT_EQ(readings[1].value, 5075u);
    EXPECT_EQ(readings[3].value, 0u);
    EXPECT_EQ(readings[3].status, 0);
    EXPECT_EQ(readings[6].value, 1024u);
    EXPECT_EQ(readings[7].value, 512u);
    EXPECT_EQ(readings[8].status, kNoSuchValue) << "no totals from the system";
    for (uint32_t m = 10; m < kAdapterMetrics; ++m) EXPECT_NE(readings[m].status, 0) << m;
    adapter_readings(load, AdapterTotals{true, 8ull << 30, 16ull << 30}, readings);
    EXPECT_EQ(readings[8].value, 8192u);
    EXPECT_EQ(readings[9].value, 16384u);
    EXPECT_EQ(adapter_counter_name(2, 1), "gpu2_3d_busy");
    EXPECT_EQ(adapter_counter_name(0, 12), "gpu0_reserved12");
    EXPECT_EQ(adapter_metric(9).percent, false);
}

}  // namespace

namespace {

// Each process's running time by class, over the adapter's engines of the class; its
// memory; other adapters', invalid and garbage items passed over.
TEST(ProcessUsage, RunningTimeByClassOverTheClassesEnginesAndMemoryByProcess) {
    const std::vector<CounterItem> running = {
        {Engine(100, 0, "3D"), 1e7, true},  // one second, on one of two 3D engines
        {Engine(200, 1, "3D"), 5e6, true},
        {Engine(100, 2, "VideoProcessing"), 2e6, true},
        {Engine(100, 3, "Security_1"), 1e6, true},
        {Engine(300, 4, "Compute_0"), -5, true},
        {Engine(300, 5, "Copy"), 1e300, false},
        {Engine(400, 0, "3D", "luid_0x00000000_0x00001234"), 1e7, true},
        {"pid_x_" + std::string(kAdapter) + "_phys_0_eng_9_engtype_3D", 1e7, true},
    };
    const std::vector<CounterItem> dedicated = {
        {"pid_100_" + std::string(kAdapter) + "_phys_0", 4096, true},
        {"pid_500_" + std::string(kAdapter) + "_phys_0", 1e30, true}};
    const std::vector<CounterItem> shared = {
        {"pid_100_" + std::string(kAdapter) + "_phys_0", 512, true},
        {"pid_100_" + std::string(kAdapter) + "_phys_0", 1, false}};
    const std::vector<ProcessUse> uses = ProcessUsesOf(kLuid, running, dedicated, shared);
    ASSERT_EQ(uses.size(), 4u);
    EXPECT_EQ(uses[0].pid, 100u);
    EXPECT_EQ(uses[0].busyNs[kEngineGraphics], 500000000u);
    EXPECT_EQ(uses[0].busyNs[kEngineVideoEnhance], 200000000u);
    EXPECT_EQ(uses[0].busyNs[kEngineOther], 100000000u);
    EXPECT_EQ(uses[0].dedicatedBytes, 4096u);
    EXPECT_EQ(uses[0].sharedBytes, 512u);
    EXPECT_EQ(uses[1].busyNs[kEngineGraphics], 250000000u);
    EXPECT_EQ(uses[2].pid, 300u) << "listed, with nothing counted from garbage";
    for (uint64_t busy : uses[2].busyNs) EXPECT_EQ(busy, 0u);
    EXPECT_EQ(uses[3].pid, 500u);
    EXPECT_EQ(uses[3].dedicatedBytes, static_cast<uint64_t>(9.2e18)) << "bounded, not wrapped";
    EXPECT_EQ(windows_engine_class("VideoEncode"), static_cast<uint32_t>(kEngineVideoEncode));
    EXPECT_EQ(windows_engine_class("VideoDecode_2"), static_cast<uint32_t>(kEngineVideoDecode));
    EXPECT_EQ(windows_engine_class(""), static_cast<uint32_t>(kEngineOther));
}

}  // namespace
