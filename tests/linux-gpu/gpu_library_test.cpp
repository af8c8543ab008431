// The counter library over every GPU, bound as the probe and the plug-in bind it, over fake
// machines' /sys and /proc, and NVIDIA's GPUs over the stand-in driver library.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "counter_library.h"
#include "fake_machine.h"
#include "gpu_clients.h"
#include "platform.h"
#include "temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* const kIntel = "0000:00:02.0";
const char* const kAmd = "0000:03:00.0";

// An AMD discrete GPU's files, as amdgpu writes them.
GpuClients SnapshotRecord(uint32_t size, uint32_t clientSize, uint32_t capacity,
                          GpuClient* clients) {
    GpuClients snapshot;
    memset(&snapshot, 0, sizeof snapshot);
    snapshot.size = size;
    snapshot.clientSize = clientSize;
    snapshot.capacity = capacity;
    snapshot.clients = clients;
    return snapshot;
}

std::map<std::string, std::string> AmdFiles() {
    return {{"gpu_busy_percent", "37\n"},
            {"mem_busy_percent", "12\n"},
            {"pp_dpm_sclk", "0: 500Mhz \n1: 1340Mhz *\n2: 2575Mhz \n"},
            {"pp_dpm_mclk", "0: 96Mhz \n1: 1000Mhz *\n"},
            {"mem_info_vram_total", "17163091968\n"},
            {"mem_info_vram_used", "1073741824\n"},
            {"mem_info_gtt_total", "8589934592\n"},
            {"mem_info_gtt_used", "1073741824\n"},
            {"power/runtime_status", "active\n"},
            {"hwmon/hwmon2/name", "amdgpu\n"},
            {"hwmon/hwmon2/temp1_input", "45000\n"},
            {"hwmon/hwmon2/temp1_label", "edge\n"},
            {"hwmon/hwmon2/temp2_input", "52000\n"},
            {"hwmon/hwmon2/power1_average", "187000000\n"},
            {"hwmon/hwmon2/fan1_input", "1200\n"},
            {"hwmon/hwmon2/fan1_max", "3300\n"},
            {"hwmon/hwmon2/pwm1", "90\n"},
            {"hwmon/hwmon2/freq1_input", "1400000000\n"}};
}

class GpuLibrary : public ::testing::Test {
protected:
    GpuLibrary() : machine_(dir_.Path("root")) {
        setenv("ZARMITE_DRM_ROOT", dir_.Path("root").c_str(), 1);
        setenv("ZARMITE_SAMPLE_PERIOD_MS", "20", 1);
        setenv("ZARMITE_NVML_SCENARIO", dir_.Write("scenario.txt", "gpus 0\n").c_str(), 1);
    }
    void TearDown() override {
        for (const std::string& fifo : fifos_) {  // lets a read stuck on it end
            const int end = open(dir_.Path("root/" + fifo).c_str(), O_RDWR | O_NONBLOCK);
            if (end >= 0) close(end);
        }
        Shutdown();
    }

    uint32_t Start() {
        uint32_t count = 0;
        EXPECT_EQ(BindCounterLibrary(), 0);
        EXPECT_EQ(GetNumCounters(&count), 0);
        for (uint32_t i = 0; i < count; ++i) EXPECT_EQ(AddCounter(static_cast<int32_t>(i)), 0);
        return count;
    }
    void Fifo(const std::string& path) {
        machine_.Fifo(path);
        fifos_.push_back(path);
    }
    std::string Text(int32_t index, bool description) {
        char text[200];
        uint32_t length = sizeof text;
        const int32_t status = description ? GetCounterDescription(index, text, &length)
                                           : GetCounterName(index, text, &length);
        return status == 0 ? text : "<fails>";
    }
    // The counter's published value and cycle as "V/C", or its failing status.
    std::string Value(int32_t index) {
        uint32_t count = 0;
        EXPECT_EQ(Sample(nullptr, &count), 0);
        uint64_t value = 0, cycle = 0;
        const int32_t status = GetCounterValue(index, 0, &value, &cycle);
        if (status != 0) return "status " + std::to_string(status);
        return std::to_string(value) + "/" + std::to_string(cycle);
    }
    // Samples until the reading satisfies `good`, for at most 3 s; the last reading.
    std::string ValueOnceSo(int32_t index, const std::function<bool(const std::string&)>& good) {
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(3);
        std::string value = Value(index);
        while (!good(value) && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            value = Value(index);
        }
        return value;
    }
    std::string ValueOnce(int32_t index, const std::string& expected) {
        return ValueOnceSo(index, [&](const std::string& v) { return v == expected; });
    }

    TempDir dir_;
    FakeMachine machine_;
    std::vector<std::string> fifos_;
};

TEST_F(GpuLibrary, GpusInPciOrderWithNvmlsMetricsAndWhatEachGpuOffers) {
    machine_.Framebuffer(0);  // simpledrm took card0
    machine_.Gpu(1, kAmd, "0x1002", "0x73bf", "amdgpu", AmdFiles());
    const std::string intel = machine_.Gpu(2, kIntel, "0x8086", "0x46a6", "i915",
                                           {{"drm/card2/gt_act_freq_mhz", "1300\n"}});
    machine_.Remove(intel + "/driver");  // its driver named by uevent alone
    ASSERT_EQ(Start(), 78u);
    EXPECT_EQ(Text(0, false), "gpu0_busy");
    EXPECT_EQ(Text(31, false), "gpu1_pcie_tx_kbps");
    EXPECT_EQ(Text(16, true),
              "Share of time the GPU was busy (GPU 1: amdgpu 0000:03:00.0, Navi 21 [Radeon RX "
              "6800/6800 XT / 6900 XT])");
    EXPECT_EQ(Text(0, true),
              "Share of time the GPU was busy, from clients' engine time (GPU 0: i915 "
              "0000:00:02.0, Alder Lake-P GT2 [Iris Xe Graphics])");
    EXPECT_EQ(Text(8, true),
              "GPU temperature, degrees C: not available on this GPU (GPU 0: i915 0000:00:02.0, "
              "Alder Lake-P GT2 [Iris Xe Graphics])");
    const char* amd[16] = {"37/100",  "12/100",   "0/10000",  "0/10000",  "1340/1",    "status 3",
                           "1000/1",  "status 3", "45/1",     "187000/1", "1200/3300", "1024/1",
                           "15344/1", "16368/1",  "status 3", "status 3"};
    for (int32_t m = 0; m < 16; ++m)
        EXPECT_EQ(ValueOnce(16 + m, amd[m]), amd[m]) << Text(16 + m, false);
    EXPECT_EQ(ValueOnce(4, "1300/1"), "1300/1");
    EXPECT_EQ(ValueOnce(8, "status 3"), "status 3");
    EXPECT_EQ(ValueOnce(11, "status 3"), "status 3");
}

TEST_F(GpuLibrary, IntegratedAmdCountsGttAndNonsenseFailsItsReading) {
    std::map<std::string, std::string> files = AmdFiles();
    files.erase("mem_busy_percent");
    files.erase("hwmon/hwmon2/power1_average");
    files.erase("hwmon/hwmon2/pwm1");
    files["hwmon/hwmon2/power1_input"] = "15000000\n";
    files["hwmon/hwmon2/fan1_input"] = "65535\n";  // a stopped fan, as some boards read
    files["gpu_busy_percent"] = "150\n";
    files["mem_info_vram_total"] = "536870912\n";
    files["mem_info_vram_used"] = "268435456\n";
    files["pp_dpm_sclk"] = "0: 400Mhz \n1: 2200Mhz \n";  // no level marked current
    machine_.Gpu(0, "0000:05:00.0", "0x1002", "0x1681", "amdgpu", files);
    ASSERT_EQ(Start(), 39u);
    EXPECT_EQ(ValueOnce(11, "1280/1"), "1280/1");  // 256 MiB of VRAM and 1 GiB of GTT
    EXPECT_EQ(ValueOnce(12, "7424/1"), "7424/1");
    EXPECT_EQ(ValueOnce(13, "8704/1"), "8704/1");
    EXPECT_EQ(ValueOnce(9, "15000/1"), "15000/1");
    for (int32_t m : {0, 4, 10}) EXPECT_EQ(ValueOnce(m, "status 21"), "status 21") << m;
    EXPECT_EQ(ValueOnce(1, "status 3"), "status 3");
    EXPECT_NE(Text(1, true).find("not available on this GPU"), std::string::npos);
}

// What each GPU says of itself, by its table's layout, and why a GPU lacks a counter: six
// GPUs, so GPU g's j-th later counter is 96 + 23g + j.
TEST_F(GpuLibrary, WhatEachGpuSaysOfItselfByItsTablesLayoutAndWhyNot) {
    std::map<std::string, std::string> discrete = AmdFiles();
    discrete["gpu_metrics"] =
        MetricsTable(120, 1, 3, {{6, {2, 71}}, {8, {2, 64}}, {18, {2, 23}}, {112, {8, 1}}});
    discrete["ras/umc_err_count"] = "ue: 2\nce: 5\n";
    discrete["ras/gfx_err_count"] = "ue: 0\nce: 0\n";
    discrete["hwmon/hwmon2/energy1_input"] = "3000000000\n";
    machine_.Gpu(1, "0000:03:00.0", "0x1002", "0x73bf", "amdgpu", discrete);
    std::map<std::string, std::string> apu = AmdFiles();
    apu["gpu_metrics"] = MetricsTable(128, 2, 2, {{120, {8, (1ULL << 33) | (1ULL << 56)}}});
    apu["hwmon/hwmon2/temp2_input"] = "80000\n";
    apu["hwmon/hwmon2/temp2_label"] = "junction\n";
    apu["hwmon/hwmon2/temp3_input"] = "50000\n";
    apu["hwmon/hwmon2/temp3_label"] = "vddgfx\n";  // not the memory's
    machine_.Gpu(2, "0000:04:00.0", "0x1002", "0x1681", "amdgpu", apu);
    std::map<std::string, std::string> unknown = AmdFiles();
    unknown["gpu_metrics"] = MetricsTable(120, 1, 9, {{18, {2, 23}}});
    machine_.Gpu(3, "0000:05:00.0", "0x1002", "0x73bf", "amdgpu", unknown);
    std::map<std::string, std::string> blank = AmdFiles();
    blank["gpu_metrics"] = MetricsTable(120, 1, 3, {});
    machine_.Gpu(4, "0000:06:00.0", "0x1002", "0x73bf", "amdgpu", blank);
    std::map<std::string, std::string> asleep = AmdFiles();
    asleep["power/runtime_status"] = "suspended\n";
    const std::string sleeper =
        machine_.Gpu(5, "0000:07:00.0", "0x1002", "0x73bf", "amdgpu", asleep);
    Fifo(sleeper + "/gpu_metrics");  // a read would hang: a sleeping GPU is never read
    machine_.Gpu(6, "0000:08:00.0", "0x8086", "0x56a0", "xe",
                 {{"tile0/gt0/freq0/throttle/reason_pl2", "1\n"},
                  {"tile0/gt0/freq0/throttle/reason_prochot", "0\n"},
                  {"tile0/gt0/gtidle/idle_residency_ms", "5000\n"}});
    const Clock::time_point started = Clock::now();
    ASSERT_EQ(Start(), 6u * 39);
    const struct {
        int32_t counter;
        const char* value;
        const char* why;  // after "not available on this GPU"; nullptr: offered
    } cases[] = {
        {102, "2300/10000", nullptr},   // the memory controller 23 % busy
        {105, "10000/10000", nullptr},  // a power limit (bit 0)
        {106, "0/10000", nullptr},
        {108, "3000/1", nullptr},  // 3,000 J
        {109, "71/1", nullptr},
        {110, "64/1", nullptr},
        {112, "5/1", nullptr},  // error counts summed over the blocks
        {113, "2/1", nullptr},
        {96, "status 3", " (only NVIDIA's driver measures it)"},
        {128, "0/10000", nullptr},  // the APU: a temperature limit and PPM
        {129, "10000/10000", nullptr},
        {130, "10000/10000", nullptr},
        {132, "80/1", nullptr},  // its junction from hwmon
        {133, "status 3", " (not supported by this GPU or driver)"},
        {125, "status 3", " (not supported by this GPU or driver)"},
        {148, "status 3", " (a gpu_metrics layout not known here)"},
        {171, "status 3", " (not supported by this GPU or driver)"},
        {174, "status 3", " (not supported by this GPU or driver)"},
        {194, "status 27", nullptr},    // asleep, and not woken
        {220, "10000/10000", nullptr},  // xe: pl2
        {221, "0/10000", nullptr},
        {226, "0/10000", nullptr},  // idle residency that did not grow
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ValueOnce(c.counter, c.value), c.value) << Text(c.counter, false);
        const std::string description = Text(c.counter, true);
        if (c.why == nullptr)
            EXPECT_EQ(description.find("not available"), std::string::npos) << description;
        else
            EXPECT_NE(description.find(std::string("not available on this GPU") + c.why),
                      std::string::npos)
                << description;
    }
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - started).count(), 10)
        << "nothing waited on the sleeping GPU's table";
}

TEST_F(GpuLibrary, XeReadsCyclesEnergyAndItsRequestedFrequencyWhileIdle) {
    const std::string device = machine_.Gpu(1, kAmd, "0x8086", "0x56a0", "xe",
                                            {{"tile0/gt0/freq0/act_freq", "0\n"},
                                             {"tile0/gt0/freq0/cur_freq", "600\n"},
                                             {"hwmon/hwmon4/name", "xe\n"},
                                             {"hwmon/hwmon4/temp2_input", "48000\n"},
                                             {"hwmon/hwmon4/energy1_input", "1000000\n"}});
    // A client whose render engine is busy half the GPU's cycles and its video engines a
    // quarter, and an energy counter of 20 W, written as the GPU runs.
    std::atomic<bool> running{true};
    auto client = [](uint64_t tick) {
        const std::string busy = std::to_string(500 * tick), total = std::to_string(1000 * tick);
        return "drm-driver:\txe\ndrm-pdev:\t" + std::string(kAmd) +
               "\ndrm-client-id:\t7\ndrm-cycles-rcs:\t" + busy + "\ndrm-total-cycles-rcs:\t" +
               total + "\ndrm-cycles-vcs:\t" + busy + "\ndrm-total-cycles-vcs:\t" + total +
               "\ndrm-engine-capacity-vcs:\t2\n";
    };
    machine_.Client(300, 5, "renderD129", client(0));
    std::thread gpu([&] {
        const Clock::time_point start = Clock::now();
        for (uint64_t tick = 1; running; ++tick) {
            machine_.Write("proc/300/fdinfo/5", client(tick));
            const auto us =
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
            machine_.Write(device + "/hwmon/hwmon4/energy1_input",
                           std::to_string(1000000 + 20 * us.count()) + "\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    ASSERT_EQ(Start(), 39u);
    EXPECT_EQ(ValueOnce(0, "5000/10000"), "5000/10000");
    EXPECT_EQ(ValueOnce(2, "2500/10000"), "2500/10000");
    EXPECT_EQ(ValueOnce(3, "2500/10000"), "2500/10000");
    EXPECT_EQ(ValueOnce(4, "600/1"), "600/1");
    EXPECT_EQ(ValueOnce(8, "48/1"), "48/1");
    const std::string power = ValueOnceSo(9, [](const std::string& v) {
        const long mw = atol(v.c_str());
        return v.find("/1") != std::string::npos && mw > 15000 && mw < 25000;
    });
    EXPECT_NE(power.find("/1"), std::string::npos) << power;
    running = false;
    gpu.join();
}

TEST_F(GpuLibrary, ASleepingGpuReadsIdleAndNothingThatWouldWakeIt) {
    std::map<std::string, std::string> files = AmdFiles();
    files["power/runtime_status"] = "suspended\n";
    const std::string device = machine_.Gpu(1, kAmd, "0x1002", "0x73bf", "amdgpu", files);
    // Opened, any of these would hold its read for ever: the reading would turn late.
    for (const char* file : {"/hwmon/hwmon2/temp1_input", "/pp_dpm_sclk", "/mem_info_vram_used",
                             "/gpu_busy_percent", "/hwmon/hwmon2/power1_average"})
        Fifo(device + file);
    ASSERT_EQ(Start(), 39u);
    EXPECT_EQ(ValueOnce(0, "0/10000"), "0/10000");
    EXPECT_EQ(ValueOnce(1, "0/10000"), "0/10000");
    for (int32_t m : {4, 8, 9, 11}) EXPECT_EQ(ValueOnce(m, "status 27"), "status 27") << m;
    EXPECT_EQ(ValueOnce(5, "status 3"), "status 3");               // not offered, asleep or awake
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));  // past the late limit
    for (int32_t m : {0, 4, 8, 9, 11}) EXPECT_EQ(Value(m), m == 0 ? "0/10000" : "status 27") << m;
    machine_.Write(device + "/power/runtime_status", "active\n");
    machine_.Write(device + "/hwmon/hwmon2/temp1_input", "45000\n");
    EXPECT_EQ(ValueOnce(8, "45/1"), "45/1");
}

TEST_F(GpuLibrary, AStuckSensorFailsLateWhileEveryPollStaysQuick) {
    const std::string device = machine_.Gpu(1, kAmd, "0x1002", "0x73bf", "amdgpu", AmdFiles());
    Fifo(device + "/hwmon/hwmon2/temp1_input");
    // However long the period, a read is late after a second: the first poll waits no longer.
    for (const char* period : {"20", "60000"}) {
        setenv("ZARMITE_SAMPLE_PERIOD_MS", period, 1);
        ASSERT_EQ(Start(), 39u);
        const Clock::time_point first = Clock::now();
        std::string temperature = Value(8);
        EXPECT_LT(Clock::now() - first, std::chrono::milliseconds(1500)) << "period " << period;
        double slowestMs = 0;
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(4);
        while (temperature != "status 10" && Clock::now() < deadline) {
            const Clock::time_point start = Clock::now();
            temperature = Value(8);
            slowestMs = std::max(
                slowestMs, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_EQ(temperature, "status 10") << "late, period " << period;
        EXPECT_LT(slowestMs, 100.0);
        EXPECT_EQ(ValueOnce(0, "37/100"), "37/100");
        EXPECT_EQ(ValueOnce(9, "187000/1"), "187000/1");
        Shutdown();
    }
}

// A client that keeps an i915 GPU's render engine busy half the time, whichever GPU and node
// its descriptor is open on, written as it runs.
class HalfBusyClient {
public:
    HalfBusyClient(FakeMachine* machine, int pid, int fd) : machine_(machine), pid_(pid), fd_(fd) {}
    ~HalfBusyClient() {
        running_ = false;
        if (thread_.joinable()) thread_.join();
    }
    void Run(const std::string& node, const std::string& address) {
        address_ = address;
        machine_->Client(pid_, fd_, node, "drm-driver:\ti915\ndrm-pdev:\t" + address + "\n");
        thread_ = std::thread([this] {
            const Clock::time_point start = Clock::now();
            while (running_) {
                std::string address;
                {
                    std::lock_guard<std::mutex> guard(lock_);
                    address = address_;
                }
                const auto ns = std::chrono::nanoseconds(Clock::now() - start).count();
                machine_->Write(Fdinfo(), "drm-driver:\ti915\ndrm-pdev:\t" + address +
                                              "\ndrm-client-id:\t7\ndrm-engine-render:\t" +
                                              std::to_string(ns / 2) + " ns\n");
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }
    // Closes the descriptor and opens the same number on another GPU's node; its fdinfo,
    // which only the running thread writes, names that GPU from its next write.
    void Move(const std::string& node, const std::string& address) {
        std::lock_guard<std::mutex> guard(lock_);
        address_ = address;
        machine_->Link("proc/" + std::to_string(pid_) + "/fd/" + std::to_string(fd_),
                       "/dev/dri/" + node);
    }

private:
    std::string Fdinfo() const {
        return "proc/" + std::to_string(pid_) + "/fdinfo/" + std::to_string(fd_);
    }
    FakeMachine* machine_;
    const int pid_, fd_;
    std::mutex lock_;
    std::string address_;
    std::atomic<bool> running_{true};
    std::thread thread_;
};

TEST_F(GpuLibrary, AClientCountsOnlyForTheGpuItsDescriptorIsOpenOn) {
    const char* const other = "0000:04:00.0";
    machine_.Gpu(1, kIntel, "0x8086", "0x46a6", "i915", {});
    machine_.Gpu(2, other, "0x8086", "0x56a0", "i915", {});
    HalfBusyClient client(&machine_, 300, 5);
    client.Run("renderD129", kIntel);
    ASSERT_EQ(Start(), 78u);
    // About half: its counter is written every few milliseconds, read a period apart.
    const std::string half = ValueOnceSo(0, [](const std::string& v) {
        const long share = atol(v.c_str());
        return v.find("/10000") != std::string::npos && share > 4000 && share < 6000;
    });
    EXPECT_NE(half.find("/10000"), std::string::npos) << half;
    EXPECT_GT(atol(half.c_str()), 4000) << half;
    EXPECT_EQ(ValueOnce(16, "0/10000"), "0/10000");
    // Reopened on the other GPU: the first is idle at once, not when the walk next reads
    // that process.
    client.Move("card2", other);
    EXPECT_EQ(ValueOnce(0, "0/10000"), "0/10000");
}

// Who uses the GPU, through the library's clients' entry: a client shared by two processes
// of one user, its engine time growing at half the wall time, its memory by region.
TEST_F(GpuLibrary, ItsClientsEntryTellsWhoUsesTheGpu) {
    machine_.Gpu(1, kIntel, "0x8086", "0x46a6", "i915", {});
    // A user's name from /etc/passwd, lines that are no entry passed over; the number where
    // the user has none.
    machine_.Write("etc/passwd",
                   ":x:1000:1000::/:/bin/sh\nbroken\nroot:x:0:0::/root:/bin/sh\n"
                   "alice:x:1000:1000::/home/a:/bin/sh\n");
    for (const char* pid : {"300", "301", "302"}) {
        const std::string uid = pid == std::string("302") ? "4242" : "1000";
        machine_.Write("proc/" + std::string(pid) + "/comm", "game\n");
        machine_.Write("proc/" + std::string(pid) + "/status",
                       "Name:\tgame\nUid:\t" + uid + "\t0\n");
    }
    for (int pid : {301, 302})
        machine_.Client(pid, 6, "renderD129",
                        "drm-driver:\ti915\ndrm-pdev:\t" + std::string(kIntel) +
                            "\ndrm-client-id:\t7\ndrm-client-name:\tvk\x1b\ndrm-engine-render:\t0 "
                            "ns\ndrm-resident-system0:"
                            "\t8 MiB\ndrm-resident-local0:\t4096 KiB\n");
    HalfBusyClient client(&machine_, 300, 5);
    client.Run("renderD129", kIntel);
    ASSERT_EQ(Start(), 39u);
    ValueOnceSo(0, [](const std::string& v) { return atol(v.c_str()) > 4000; });
    void* library = plat_library_loaded(kCounterLibraryFileName);
    ASSERT_NE(library, nullptr);
    const auto entry =
        reinterpret_cast<GpuClientsEntry>(plat_library_symbol(library, kGpuClientsEntryName));
    ASSERT_NE(entry, nullptr);
    GpuClient clients[4];
    GpuDevice devices[2];
    const auto take = [&] {
        GpuClients snapshot = SnapshotRecord(sizeof(GpuClients), sizeof(GpuClient), 4, clients);
        snapshot.deviceCapacity = 2;
        snapshot.devices = devices;
        EXPECT_EQ(entry(&snapshot), 0);
        return snapshot;
    };
    EXPECT_NE(entry(nullptr), 0);
    // Records of other sizes, and arrays that are not there.
    const uint32_t wrong[][4] = {{kGpuClientsFirstSize - 1, sizeof(GpuClient), 0, 0},
                                 {sizeof(GpuClients), sizeof(GpuClient) - 1, 0, 0},
                                 {sizeof(GpuClients), sizeof(GpuClient), 4, 0},
                                 {sizeof(GpuClients), sizeof(GpuClient), 0, 1}};
    for (const auto& sizes : wrong) {
        GpuClients refused = SnapshotRecord(sizes[0], sizes[1], sizes[2], nullptr);
        refused.deviceCapacity = sizes[3];
        EXPECT_NE(entry(&refused), 0) << sizes[0] << " " << sizes[1] << " " << sizes[2];
    }
    // A caller of the first layout, which has no room for the GPUs' own figures.
    GpuClients none = SnapshotRecord(kGpuClientsFirstSize, sizeof(GpuClient), 0, nullptr);
    none.deviceCapacity = 99;
    EXPECT_EQ(entry(&none), 0);
    EXPECT_EQ(none.deviceCapacity, 99u) << "nothing written past the caller's record";
    EXPECT_EQ(none.count, 0u);
    EXPECT_EQ(none.total, 3u) << "how many there are, for a larger array";
    const GpuClients first = take();
    ASSERT_EQ(first.count, 3u);
    const uint64_t busyBefore = clients[0].busyNs[kEngineGraphics];
    for (uint32_t c = 0; c < 3; ++c) {
        EXPECT_EQ(clients[c].pid, 300u + c);
        EXPECT_EQ(clients[c].id, 7u);
        EXPECT_EQ(clients[c].flags, kGpuClientShared);
        EXPECT_STREQ(clients[c].name, "game (vk?)") << "the program's name for its client too";
        EXPECT_STREQ(clients[c].user, c < 2 ? "alice" : "4242");
        EXPECT_EQ(clients[c].deviceBytes, 4u << 20);
        EXPECT_EQ(clients[c].systemBytes, 8u << 20);
        EXPECT_EQ(clients[c].busyNs[kEngineCopy], 0u);
    }
    // Later, its engine time has grown by about half the time between the two readings.
    GpuClients second = take();
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(3);
    while (second.atNs < first.atNs + 200000000 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        Value(0);
        second = take();
    }
    const double share = static_cast<double>(clients[0].busyNs[kEngineGraphics] - busyBefore) /
                         static_cast<double>(second.atNs - first.atNs);
    EXPECT_GT(share, 0.3) << clients[0].busyNs[kEngineGraphics] << " after " << busyBefore;
    EXPECT_LT(share, 0.7);
    // The GPU's own busy, from the same clients here, grows as theirs does.
    ASSERT_EQ(second.deviceCount, 1u);
    EXPECT_EQ(devices[0].gpu, 0u);
    EXPECT_EQ(devices[0].known, 1u);
    EXPECT_GT(devices[0].busyNs, 0u);
    // A caller that gives the size of its GPU records gets each GPU's own look time; one
    // that gives none gets records of the first layout, and nothing written past them.
    GpuDevice sized[2];
    memset(sized, 0xAB, sizeof sized);
    GpuClients record = SnapshotRecord(sizeof(GpuClients), sizeof(GpuClient), 4, clients);
    record.deviceCapacity = 2;
    record.devices = sized;
    record.deviceSize = sizeof(GpuDevice);
    ASSERT_EQ(entry(&record), 0);
    ASSERT_EQ(record.deviceCount, 1u);
    EXPECT_EQ(sized[0].atNs, record.atNs) << "one GPU: its look is the snapshot's";
    alignas(GpuDevice) unsigned char packed[2 * sizeof(GpuDevice)];
    memset(packed, 0xAB, sizeof packed);
    record.devices = reinterpret_cast<GpuDevice*>(packed);
    record.deviceSize = 0;
    ASSERT_EQ(entry(&record), 0);
    EXPECT_EQ(packed[kGpuDeviceFirstSize], 0xAB) << "a record of the first layout ends there";
    EXPECT_NE(packed[kGpuDeviceFirstSize - 1], 0xAB);
    plat_library_close(library);
}

TEST_F(GpuLibrary, AProcessWithThousandsOfDescriptorsCostsBoundedWorkAndSaysSo) {
    const std::string device = machine_.Gpu(1, kAmd, "0x1002", "0x73bf", "amdgpu", AmdFiles());
    for (int fd = 3; fd < 2003; ++fd)
        machine_.Client(400, fd, "renderD129",
                        "drm-driver:\tamdgpu\ndrm-pdev:\t" + std::string(kAmd) +
                            "\ndrm-client-id:\t" + std::to_string(fd) +
                            "\ndrm-engine-enc:\t0 ns\n");
    ASSERT_EQ(Start(), 39u);
    // Said from the start, when the host reads the descriptions.
    EXPECT_NE(Text(2, true).find("; only 64 descriptors of process 400 read"), std::string::npos)
        << Text(2, true);
    EXPECT_EQ(Text(0, true).find("process 400"), std::string::npos) << "busy is from its file";
    EXPECT_EQ(ValueOnce(2, "0/10000"), "0/10000");  // the encoder, from the clients
    EXPECT_EQ(ValueOnce(0, "37/100"), "37/100");    // busy, from its file
}

TEST_F(GpuLibrary, AGpuIsFollowedByItsAddressWhenCardsGoAndCome) {
    const std::string device = machine_.Gpu(1, kAmd, "0x1002", "0x73bf", "amdgpu", AmdFiles());
    ASSERT_EQ(Start(), 39u);
    EXPECT_EQ(ValueOnce(8, "45/1"), "45/1");
    // Unplugged: its card and render node go. Another GPU then takes its card number.
    machine_.Remove("sys/class/drm/card1");
    machine_.Remove("sys/class/drm/renderD129");
    EXPECT_EQ(ValueOnce(8, "status 15"), "status 15");
    std::map<std::string, std::string> hot = AmdFiles();
    hot["hwmon/hwmon2/temp1_input"] = "88000\n";
    machine_.Gpu(1, "0000:07:00.0", "0x1002", "0x73bf", "amdgpu", hot);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // past a look at the cards
    EXPECT_EQ(Value(8), "status 15") << "never the other GPU's files";
    // It comes back at its address, as another card.
    machine_.Gpu(3, kAmd, "0x1002", "0x73bf", "amdgpu", AmdFiles());
    EXPECT_EQ(ValueOnce(8, "45/1"), "45/1");
    EXPECT_NE(Text(8, true).find(kAmd), std::string::npos) << Text(8, true);
}

TEST_F(GpuLibrary, AGpuWhoseFilesHangAtStartIsLeftOutAndTheOthersAreRead) {
    const std::string stuck = machine_.Gpu(1, kAmd, "0x1002", "0x73bf", "amdgpu", AmdFiles());
    machine_.Gpu(2, kIntel, "0x8086", "0x46a6", "i915", {{"drm/card2/gt_act_freq_mhz", "1300\n"}});
    Fifo(stuck + "/vendor");
    const Clock::time_point start = Clock::now();
    ASSERT_EQ(Start(), 39u);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
    EXPECT_NE(Text(0, true).find(kIntel), std::string::npos) << Text(0, true);
    EXPECT_EQ(ValueOnce(4, "1300/1"), "1300/1");
}

// A program that loads the library, reads a counter, shuts it down and unloads it, over
// and over: no thread of the library may be left running in code that is unmapped.
TEST_F(GpuLibrary, LoadReadShutDownAndUnloadAHundredTimes) {
    machine_.Gpu(1, kAmd, "0x1002", "0x73bf", "amdgpu", AmdFiles());
    for (int cycle = 0; cycle < 100; ++cycle) {
        void* library = plat_library_open(kCounterLibraryFileName);
        ASSERT_NE(library, nullptr) << plat_library_error();
        const auto query = reinterpret_cast<CounterQueryEntry>(
            plat_library_symbol(library, kCounterQueryEntryName));
        ASSERT_NE(query, nullptr);
        const auto entry = [&](CounterOperation operation) {
            return query(kCounterIdentifiers[operation]);
        };
        using Plain = int32_t(COUNTER_CALL*)();
        using Add = int32_t(COUNTER_CALL*)(int32_t);
        using Sampled = int32_t(COUNTER_CALL*)(void*, uint32_t*);
        using Value = int32_t(COUNTER_CALL*)(int32_t, int32_t, uint64_t*, uint64_t*);
        ASSERT_EQ(reinterpret_cast<Plain>(entry(kInitializePosition))(), 0) << cycle;
        EXPECT_EQ(reinterpret_cast<Add>(entry(kAddCounterPosition))(8), 0);
        uint32_t count = 0;
        EXPECT_EQ(reinterpret_cast<Sampled>(entry(kSamplePosition))(nullptr, &count), 0);
        uint64_t value = 0, cycles = 0;
        EXPECT_EQ(reinterpret_cast<Value>(entry(kGetCounterValuePosition))(8, 0, &value, &cycles),
                  0);
        EXPECT_EQ(value, 45u);
        EXPECT_EQ(reinterpret_cast<Plain>(entry(kShutdownPosition))(), 0);
        plat_library_close(library);
    }
}

TEST_F(GpuLibrary, NvidiaGpusTakeTheirPlaceThroughNvmlOrAreLeftOutWithoutIt) {
    machine_.Gpu(1, kAmd, "0x1002", "0x73bf", "amdgpu", AmdFiles());
    machine_.Gpu(2, kIntel, "0x8086", "0x46a6", "i915", {});
    machine_.Gpu(3, "0000:01:00.0", "0x10de", "0x2330", "nvidia", {});
    dir_.Write("scenario.txt", "gpus 1\npci 0 0000:01:00.0\nname 0 Stand-in Board\n");
    ASSERT_EQ(Start(), 117u);
    EXPECT_EQ(Text(16, true),
              "Share of time the GPU was busy (GPU 1: nvidia 0000:01:00.0, Stand-in Board)");
    EXPECT_EQ(ValueOnce(16, "40/100"), "40/100");
    EXPECT_EQ(ValueOnce(32, "37/100"), "37/100");
    void* library = plat_library_loaded(kCounterLibraryFileName);
    const auto entry =
        reinterpret_cast<GpuClientsEntry>(plat_library_symbol(library, kGpuClientsEntryName));
    ASSERT_NE(entry, nullptr);
    GpuClients snapshot = SnapshotRecord(sizeof(GpuClients), sizeof(GpuClient), 0, nullptr);
    EXPECT_EQ(entry(&snapshot), 0);
    EXPECT_EQ(snapshot.total, 0u) << "no process on any GPU here";
    plat_library_close(library);
    Shutdown();
    dir_.Write("scenario.txt", "init-fails 9\n");
    ASSERT_EQ(Start(), 78u);
    EXPECT_EQ(Text(16, false), "gpu1_busy");
    EXPECT_NE(Text(16, true).find("amdgpu 0000:03:00.0"), std::string::npos) << Text(16, true);
}

}  // namespace

namespace {

// Asking for the clients reads them, whatever counters were added; a client whose fdinfo
// never answers, and descriptors beyond a process's cap, are said per GPU while the other
// clients are still read.
TEST_F(GpuLibrary, ClientsAreReadWhenAskedForEvenWithAHungFdinfoAndSaidWhatWasLeftOut) {
    machine_.Gpu(1, kAmd, "0x1002", "0x73bf", "amdgpu", AmdFiles());
    machine_.Client(310, 4, "renderD129", "");
    Fifo("proc/310/fdinfo/4");
    for (int fd = 3; fd < 103; ++fd)
        machine_.Client(400, fd, "renderD129",
                        "drm-driver:\tamdgpu\ndrm-pdev:\t" + std::string(kAmd) +
                            "\ndrm-client-id:\t" + std::to_string(1000 + fd) + "\n");
    HalfBusyClient client(&machine_, 300, 5);
    client.Run("renderD129", kAmd);
    uint32_t count = 0;
    ASSERT_EQ(BindCounterLibrary(), 0);
    ASSERT_EQ(GetNumCounters(&count), 0);
    ASSERT_EQ(AddCounter(0), 0);  // busy alone, which its own file gives
    void* library = plat_library_loaded(kCounterLibraryFileName);
    const auto entry =
        reinterpret_cast<GpuClientsEntry>(plat_library_symbol(library, kGpuClientsEntryName));
    ASSERT_NE(entry, nullptr);
    std::vector<GpuClient> clients(128);
    GpuDevice device;
    GpuClients snapshot;
    uint64_t busy = 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
    while (busy == 0 && Clock::now() < deadline) {
        Value(0);
        snapshot = SnapshotRecord(sizeof(GpuClients), sizeof(GpuClient), 128, clients.data());
        snapshot.deviceCapacity = 1;
        snapshot.devices = &device;
        snapshot.deviceSize = sizeof device;
        ASSERT_EQ(entry(&snapshot), 0);
        for (uint32_t c = 0; c < snapshot.count; ++c)
            if (clients[c].pid == 300) busy = clients[c].busyNs[kEngineGraphics];
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_GT(busy, 0u) << snapshot.count << " clients";
    ASSERT_EQ(snapshot.deviceCount, 1u);
    EXPECT_GE(device.lateClients, 1u) << "the hung fdinfo is said";
    EXPECT_EQ(device.leftOut, 100u - 64u) << "as are those past the cap";
    plat_library_close(library);
}

}  // namespace
