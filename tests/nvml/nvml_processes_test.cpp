// Who uses an NVIDIA GPU, from the driver's answers as a fake driver table gives them: the
// lists in whichever layout the driver has, a buffer that must grow, counts that lie,
// samples old and new, "no samples", a partitioned GPU and a reused pid.
#include "nvml_processes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace {

struct FakeDriver {
    std::vector<nvmlProcessInfo_t> compute;
    std::vector<nvmlProcessInfo_t> graphics;
    std::vector<nvmlProcessUtilizationSample_t> samples;
    nvmlReturn_t samplesStatus = NVML_SUCCESS;
    unsigned int countLie = 0;  // claimed past what is written, with a success
    bool partitioned = false;
    int listCalls = 0;
};
FakeDriver g_driver;

template <typename Info>
nvmlReturn_t List(const std::vector<nvmlProcessInfo_t>& list, unsigned int* count, Info* infos) {
    ++g_driver.listCalls;
    if (*count < list.size()) {
        *count = static_cast<unsigned int>(list.size());
        return NVML_ERROR_INSUFFICIENT_SIZE;
    }
    for (size_t i = 0; i < list.size(); ++i) {
        infos[i].pid = list[i].pid;
        infos[i].usedGpuMemory = list[i].usedGpuMemory;
    }
    *count = static_cast<unsigned int>(list.size()) + g_driver.countLie;
    return NVML_SUCCESS;
}

nvmlReturn_t ComputeV3(nvmlDevice_t, unsigned int* count, nvmlProcessInfo_t* infos) {
    return List(g_driver.compute, count, infos);
}
nvmlReturn_t GraphicsV1(nvmlDevice_t, unsigned int* count, nvmlProcessInfo_v1_t* infos) {
    return List(g_driver.graphics, count, infos);
}
nvmlReturn_t Samples(nvmlDevice_t, nvmlProcessUtilizationSample_t* samples, unsigned int* count,
                     unsigned long long) {
    if (g_driver.samplesStatus != NVML_SUCCESS) return g_driver.samplesStatus;
    if (samples == nullptr || *count < g_driver.samples.size()) {
        *count = static_cast<unsigned int>(g_driver.samples.size());
        return NVML_ERROR_INSUFFICIENT_SIZE;
    }
    std::copy(g_driver.samples.begin(), g_driver.samples.end(), samples);
    *count = static_cast<unsigned int>(g_driver.samples.size());
    return NVML_SUCCESS;
}
nvmlReturn_t MigMode(nvmlDevice_t, unsigned int* current, unsigned int* pending) {
    *current = *pending = g_driver.partitioned ? NVML_DEVICE_MIG_ENABLE : 0;
    return NVML_SUCCESS;
}

constexpr uint64_t kSecond = 1000000000ULL;

const GpuClient* Find(const std::vector<GpuClient>& clients, uint32_t pid) {
    for (const GpuClient& client : clients)
        if (client.pid == pid) return &client;
    return nullptr;
}

TEST(NvmlProcesses, ListsInTheDriversLayoutSamplesNoSamplesPartitionsAndReusedPids) {
    TempDir root;
    const auto process = [&](uint32_t pid, const char* name, uint64_t start) {
        const std::string folder = "proc/" + std::to_string(pid);
        std::filesystem::create_directories(root.Path(folder));
        root.Write(folder + "/comm", std::string(name) + "\n");
        std::string stat = std::to_string(pid) + " (" + name + ") S";
        for (int field = 4; field < 22; ++field) stat += " 1";
        root.Write(folder + "/stat", stat + " " + std::to_string(start) + " 9\n");
    };
    process(100, "trainer", 5000);
    g_driver = FakeDriver{};
    // 20 compute processes: more than the first buffer holds.
    for (unsigned int pid = 100; pid < 120; ++pid)
        g_driver.compute.push_back({pid, uint64_t{pid} << 20, 0, 0});
    g_driver.compute[1].usedGpuMemory = NVML_VALUE_NOT_AVAILABLE;
    g_driver.graphics.push_back({100, 8u << 20, 0, 0});  // the trainer draws too
    g_driver.graphics.push_back({200, 1u << 20, 0, 0});  // a desktop: graphics only
    g_driver.countLie = 1000000;
    NvmlFunctions nvml{};
    nvml.nvmlDeviceGetComputeRunningProcesses_v3 = ComputeV3;
    nvml.nvmlDeviceGetGraphicsRunningProcesses = GraphicsV1;  // an older driver's layout
    nvml.nvmlDeviceGetProcessUtilization = Samples;
    nvml.nvmlDeviceGetMigMode = MigMode;
    NvmlProcessHistory history;
    std::vector<GpuClient> clients =
        nvml_read_processes(nvml, nullptr, root.Path(""), kSecond, &history);
    ASSERT_EQ(clients.size(), 21u) << "every process, the lying counts not believed";
    const GpuClient* trainer = Find(clients, 100);
    ASSERT_NE(trainer, nullptr);
    EXPECT_STREQ(trainer->name, "trainer");
    EXPECT_EQ(trainer->deviceBytes, 100u << 20) << "the larger of its two figures";
    EXPECT_EQ(Find(clients, 101)->deviceBytes, 0u) << "not available is none";
    // A second later: samples newer than the last read, one of them above the whole, an
    // old one passed over; a process the lists do not name but the samples do.
    g_driver.countLie = 0;
    g_driver.samples = {{100, 10, 100, 0, 0, 0},
                        {100, 20, 250, 0, 40, 0},
                        {200, 30, 50, 0, 0, 30},
                        {300, 40, 20, 0, 0, 0},
                        {100, 0, 100, 0, 100, 100}};
    history.lastSeenUs = 5;
    clients = nvml_read_processes(nvml, nullptr, root.Path(""), 2 * kSecond, &history);
    EXPECT_EQ(history.lastSeenUs, 40u);
    trainer = Find(clients, 100);
    ASSERT_NE(trainer, nullptr);
    EXPECT_EQ(trainer->busyNs[kEngineCompute], kSecond) << "(100 + 100) / 2 of a second";
    EXPECT_EQ(trainer->busyNs[kEngineVideoEncode], kSecond / 5);
    EXPECT_EQ(trainer->busyNs[kEngineGraphics], 0u) << "compute and graphics work is compute";
    const uint64_t trainerId = trainer->id;  // the next reads replace the clients
    const GpuClient* desktop = Find(clients, 200);
    ASSERT_NE(desktop, nullptr);
    EXPECT_EQ(desktop->busyNs[kEngineGraphics], kSecond / 2) << "graphics work only";
    EXPECT_EQ(desktop->busyNs[kEngineVideoDecode], kSecond * 3 / 10);
    EXPECT_NE(Find(clients, 300), nullptr);
    // "Not found": no sample is no use, and the processes stay.
    g_driver.samplesStatus = NVML_ERROR_NOT_FOUND;
    clients = nvml_read_processes(nvml, nullptr, root.Path(""), 3 * kSecond, &history);
    EXPECT_EQ(Find(clients, 100)->busyNs[kEngineCompute], kSecond);
    EXPECT_EQ(Find(clients, 300), nullptr) << "gone from the lists and the samples";
    // The trainer's pid is reused by a new process: its time starts again.
    process(100, "trainer", 7000);
    g_driver.samplesStatus = NVML_SUCCESS;
    g_driver.samples = {{100, 50, 100, 0, 0, 0}};
    clients = nvml_read_processes(nvml, nullptr, root.Path(""), 4 * kSecond, &history);
    EXPECT_EQ(Find(clients, 100)->busyNs[kEngineCompute], kSecond);
    EXPECT_NE(Find(clients, 100)->id, trainerId);
    // A partitioned GPU: the processes and their memory, no samples asked for.
    g_driver.partitioned = true;
    g_driver.samples = {{100, 60, 100, 0, 0, 0}};
    clients = nvml_read_processes(nvml, nullptr, root.Path(""), 5 * kSecond, &history);
    EXPECT_TRUE(history.partitioned);
    EXPECT_EQ(Find(clients, 100)->busyNs[kEngineCompute], kSecond);
    EXPECT_EQ(clients.size(), 21u);
    // A driver with none of these entry points tells of no process.
    EXPECT_TRUE(nvml_read_processes(NvmlFunctions{}, nullptr, "", 6 * kSecond, &history).empty());
}

}  // namespace
