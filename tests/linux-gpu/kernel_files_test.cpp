// What the GPU counter library makes of the kernel's files, from texts in the formats the
// kernel prints: clients' fdinfo, clock levels, the PCI ID list, energy counters.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>

#include "amd_ras.h"
#include "cumulative_count.h"
#include "drm_clients.h"
#include "drm_files.h"
#include "drm_readings.h"
#include "engine_usage.h"
#include "fake_machine.h"
#include "gpu_metrics_table.h"
#include "intel_limits.h"
#include "pci_ids.h"
#include "temp_dir.h"

namespace {

// fdinfo texts by path, for engine_shares; a path not here reads as a process that ended.
std::map<std::string, std::string> g_fdinfo;
int g_deniedErrors = 0;

int ReadFake(const std::string& path, size_t, std::string* out) {
    if (path.find("denied") != std::string::npos) return ++g_deniedErrors, EACCES;
    const auto found = g_fdinfo.find(path);
    if (found == g_fdinfo.end()) return ENOENT;
    *out = found->second;
    return 0;
}

std::string I915(const char* id, uint64_t render, uint64_t video) {
    return "pos:\t0\nflags:\t02100002\nmnt_id:\t26\nino:\t1043\ndrm-driver:\ti915\n"
           "drm-pdev:\t0000:00:02.0\ndrm-client-id:\t" +
           std::string(id) + "\ndrm-engine-render:\t" + std::to_string(render) +
           " ns\ndrm-engine-copy:\t0 ns\ndrm-engine-video:\t" + std::to_string(video) +
           " ns\ndrm-engine-capacity-video:\t2\ndrm-total-system0:\t12 MiB\n";
}

TEST(KernelFiles, FdinfoInEveryFormatParses) {
    FdinfoClient client;
    ASSERT_TRUE(fdinfo_parse(I915("17", 900, 40), &client));
    EXPECT_EQ(client.driver, "i915");
    EXPECT_EQ(client.pdev, "0000:00:02.0");
    EXPECT_EQ(client.id, "17");
    ASSERT_EQ(client.engines.size(), 3u);
    EXPECT_EQ(client.engines[2].engine, "video");
    EXPECT_EQ(client.engines[2].ns, 40u);
    EXPECT_EQ(client.engines[2].capacity, 2u);
    // amdgpu 5.19's ring-numbered keys, the space before a TAB, memory in KiB.
    ASSERT_TRUE(
        fdinfo_parse("drm-driver:\tamdgpu\ndrm-pdev:\t0000:03:00.0\ndrm-client-id:\t9\n"
                     "drm-memory-gtt: \t2048 KiB\ndrm-engine-gfx0:\t100 ns\n"
                     "drm-engine-gfx1:\t50 ns\ndrm-engine-enc:\t7 ns\n",
                     &client));
    ASSERT_EQ(client.engines.size(), 2u);
    EXPECT_EQ(client.engines[0].engine, "gfx");
    EXPECT_EQ(client.engines[0].ns, 150u);
    // The older amdgpu format: no drm-driver, pdev and pasid, the driver's own percentages,
    // whose digits after the point are hundredths.
    ASSERT_TRUE(
        fdinfo_parse("pdev:\t0000:03:00.0\npasid:\t32771\nvram mem:\t4096 kB\n"
                     "gfx0:\t70.5%\ndec0:\t3.12%\n",
                     &client));
    EXPECT_EQ(client.id, "32771");
    EXPECT_DOUBLE_EQ(client.engines[0].percent, 70.05);
    EXPECT_DOUBLE_EQ(client.engines[1].percent, 3.12);
    EXPECT_FALSE(fdinfo_parse("pos:\t0\nflags:\t02\n", &client));  // no DRM client
    // The program's own name for its client: kept as untrusted text, cut to its field.
    ASSERT_TRUE(fdinfo_parse("drm-driver:\txe\ndrm-client-name:\t" + std::string(100, 'n') +
                                 "\ndrm-cycles-rcs:\t5\ndrm-total-cycles-rcs:\t9\n",
                             &client));
    EXPECT_EQ(client.name, std::string(kClientNameLimit, 'n'));
}

TEST(KernelFiles, MemoryRegionsAndEngineClassesOfEveryDriver) {
    FdinfoClient client;
    ASSERT_TRUE(
        fdinfo_parse("drm-driver:\tamdgpu\ndrm-memory-vram:\t1 KiB\ndrm-resident-vram:\t2048 "
                     "KiB\ndrm-memory-gtt:\t3 MiB\ndrm-resident-cpu:\t100\n"
                     "drm-resident-local0:\t18446744073709551615 GiB\ndrm-resident-x:\t1 TB\n",
                     &client));
    EXPECT_EQ(client.residentBytes,
              (std::map<std::string, uint64_t>{
                  {"vram", 2048u << 10}, {"gtt", 3u << 20}, {"cpu", 100}, {"local0", UINT64_MAX}}));
    const struct {
        const char* engine;
        uint32_t engineClass;
    } classes[] = {{"gfx", kEngineGraphics},      {"render", kEngineGraphics},
                   {"rcs", kEngineGraphics},      {"compute", kEngineCompute},
                   {"ccs", kEngineCompute},       {"dma", kEngineCopy},
                   {"bcs", kEngineCopy},          {"video", kEngineVideo},
                   {"vcs", kEngineVideo},         {"dec", kEngineVideoDecode},
                   {"jpeg", kEngineVideoDecode},  {"enc", kEngineVideoEncode},
                   {"vecs", kEngineVideoEnhance}, {"video-enhance", kEngineVideoEnhance},
                   {"vpe", kEngineVideoEnhance},  {"fragment", kEngineOther}};
    for (const auto& c : classes) EXPECT_EQ(engine_class_of(c.engine), c.engineClass) << c.engine;
    EXPECT_TRUE(device_memory_region("vram") && device_memory_region("local0"));
    EXPECT_FALSE(device_memory_region("gtt") || device_memory_region("system0") ||
                 device_memory_region("stolen"));
}

TEST(KernelFiles, EngineSharesCountEachClientOnceAndNeverGoBackwards) {
    const std::vector<std::string> paths = {"/proc/10/fdinfo/5", "/proc/11/fdinfo/5",
                                            "/proc/12/fdinfo/4", "/proc/13/fdinfo/denied"};
    EngineHistory history;
    // Processes 10 and 11 share client 17 (one counted); process 12 is client 18.
    g_fdinfo = {{paths[0], I915("17", 1000, 0)},
                {paths[1], I915("17", 1000, 0)},
                {paths[2], I915("18", 5000, 0)}};
    EngineShares shares = engine_shares(paths, ReadFake, &history, 1000000, "0000:00:02.0");
    EXPECT_FALSE(shares.measured);  // a baseline
    EXPECT_EQ(shares.clients, 2u);
    // 10 ms later: client 17 used the render engine 3 ms, client 18 2 ms and the video
    // engines (two of them) 4 ms.
    g_fdinfo = {{paths[0], I915("17", 3001000, 0)},
                {paths[1], I915("17", 3001000, 0)},
                {paths[2], I915("18", 2005000, 4000000)}};
    shares = engine_shares(paths, ReadFake, &history, 11000000, "0000:00:02.0");
    ASSERT_TRUE(shares.measured);
    EXPECT_NEAR(engine_share_of(shares, {}), 0.5, 1e-9);
    EXPECT_NEAR(engine_share_of(shares, {"video"}), 0.2, 1e-9);
    // Process 10 ended (11 still holds client 17); client 18's render counter started
    // again: a new baseline, no time now, and the time counted so far is kept.
    const auto used = [&](const char* id) {
        for (const EngineClient& client : shares.byClient)
            if (client.id == id) return client.busyNs[kEngineGraphics];
        return uint64_t{0};
    };
    const uint64_t before = used("18");
    EXPECT_NEAR(before, 2000000, 1);
    g_fdinfo.erase(paths[0]);
    g_fdinfo[paths[2]] = I915("18", 1000, 4000000);
    shares = engine_shares(paths, ReadFake, &history, 21000000, "0000:00:02.0");
    EXPECT_NEAR(engine_share_of(shares, {}), 0, 1e-9);
    EXPECT_EQ(used("18"), before);
    g_fdinfo[paths[2]] = I915("18", 3001000, 4000000);
    shares = engine_shares(paths, ReadFake, &history, 31000000, "0000:00:02.0");
    EXPECT_NEAR(engine_share_of(shares, {"render"}), 0.3, 1e-9) << "measured from the restart";
    EXPECT_EQ(shares.clients, 2u);
    EXPECT_GT(g_deniedErrors, 0);  // another user's client: passed over, never a failure
    EXPECT_EQ(shares.denied, std::vector<size_t>{3}) << "and said, so that it is counted";
    // A glitch (all ones for one look) is refused: no time then, and the next reading
    // counts from the last good one, over both looks.
    g_fdinfo[paths[2]] = I915("18", UINT64_MAX, 4000000);
    shares = engine_shares(paths, ReadFake, &history, 41000000, "0000:00:02.0");
    EXPECT_NEAR(engine_share_of(shares, {"render"}), 0, 1e-9);
    g_fdinfo[paths[2]] = I915("18", 7001000, 4000000);
    shares = engine_shares(paths, ReadFake, &history, 51000000, "0000:00:02.0");
    EXPECT_NEAR(engine_share_of(shares, {"render"}), 0.2, 1e-9);
    // A look that misses client 18 (its file unreadable for a moment) keeps its time; back,
    // it goes on from there, its share over the time since its last look.
    const uint64_t kept = used("18");
    g_fdinfo.erase(paths[2]);
    shares = engine_shares(paths, ReadFake, &history, 61000000, "0000:00:02.0");
    EXPECT_EQ(shares.clients, 1u);
    g_fdinfo[paths[2]] = I915("18", 11001000, 4000000);
    shares = engine_shares(paths, ReadFake, &history, 71000000, "0000:00:02.0");
    EXPECT_NEAR(engine_share_of(shares, {"render"}), 0.2, 1e-9);
    EXPECT_EQ(used("18"), kept + 4000000);
    // A reading beyond the time passed, seen three times in a row, is believed as a new
    // baseline; a client's engine time never grows faster than the wall clock.
    for (uint64_t at : {81000000, 91000000, 101000000}) {
        g_fdinfo[paths[2]] = I915("18", 900000000 + at, 4000000);
        shares = engine_shares(paths, ReadFake, &history, at, "0000:00:02.0");
        EXPECT_NEAR(engine_share_of(shares, {"render"}), 0, 1e-9) << at;
    }
    g_fdinfo[paths[2]] = I915("18", 900000000 + 101000000 + 5000000, 4000000);
    shares = engine_shares(paths, ReadFake, &history, 111000000, "0000:00:02.0");
    EXPECT_NEAR(engine_share_of(shares, {"render"}), 0.5, 1e-9);
    EXPECT_LE(used("18"), 111000000u - 1000000u);
    // A client of another device (its descriptor reopened there) counts nothing here.
    const auto other = [](uint64_t render) {
        std::string text = I915("19", render, 0);
        return text.replace(text.find("0000:00:02.0"), 12, "0000:03:00.0");
    };
    g_fdinfo = {{paths[0], other(0)}};
    engine_shares(paths, ReadFake, &history, 121000000, "0000:00:02.0");
    g_fdinfo = {{paths[0], other(9000000)}};
    shares = engine_shares(paths, ReadFake, &history, 131000000, "0000:00:02.0");
    EXPECT_EQ(shares.clients, 0u);
    EXPECT_NEAR(engine_share_of(shares, {}), 0, 1e-9);
}

// Cycles (xe) and the driver's own percentages (older amdgpu), look after look: a total
// that starts again is a new baseline, busy beyond the total a glitch.
TEST(KernelFiles, CycleAndPercentSharesAcrossRestartsAndGlitches) {
    const std::vector<std::string> paths = {"/proc/30/fdinfo/4", "/proc/31/fdinfo/4"};
    const auto xe = [](uint64_t cycles, uint64_t total) {
        return "drm-driver:\txe\ndrm-pdev:\t0000:00:02.0\ndrm-client-id:\t8\ndrm-cycles-rcs:\t" +
               std::to_string(cycles) + "\ndrm-total-cycles-rcs:\t" + std::to_string(total) + "\n";
    };
    const auto amd = [](const char* percent) {
        return std::string("pdev:\t0000:00:02.0\npasid:\t9\ngfx0:\t") + percent + "%\n";
    };
    const struct {
        uint64_t cycles, total;
        const char* percent;
        double rcs, gfx;  // the shares this look reads
    } looks[] = {
        {100, 1000, "10.00", 0, 0},      // baselines
        {600, 2000, "20.00", 0.5, 0.2},  // half the cycles
        {50, 100, "30.00", 0, 0.3},      // the driver started again
        {350, 700, "40.00", 0.5, 0.4},   // measured from there
        {5000, 800, "50.00", 0, 0.5},    // busy beyond the total: refused
        {450, 900, "150.00", 0.5, 1},    // from the last good one; a share past the whole
    };
    EngineHistory history;
    uint64_t at = 1000000;
    for (const auto& look : looks) {
        g_fdinfo = {{paths[0], xe(look.cycles, look.total)}, {paths[1], amd(look.percent)}};
        const EngineShares shares = engine_shares(paths, ReadFake, &history, at, "0000:00:02.0");
        EXPECT_NEAR(engine_share_of(shares, {"rcs"}), look.rcs, 1e-9) << look.cycles;
        EXPECT_NEAR(engine_share_of(shares, {"gfx"}), look.gfx, 1e-9) << look.percent;
        at += 10000000;
    }
    // An engine that a look does not print keeps its time in the client's figure.
    const auto graphicsOf = [](const EngineShares& shares) {
        for (const EngineClient& client : shares.byClient)
            if (client.id == "9") return client.busyNs[kEngineGraphics];
        return uint64_t{0};
    };
    const uint64_t graphics = graphicsOf(engine_shares(paths, ReadFake, &history, at, ""));
    EXPECT_GT(graphics, 0u);
    g_fdinfo[paths[1]] = "pdev:\t0000:00:02.0\npasid:\t9\ndec0:\t5.00%\n";
    EXPECT_EQ(graphicsOf(engine_shares(paths, ReadFake, &history, at + 10000000, "")), graphics);
}

TEST(KernelFiles, ClientsWithoutIdsOfOtherDevicesAndWithMemoryPastSixtyFourBits) {
    const std::vector<std::string> paths = {"/proc/20/fdinfo/4", "/proc/21/fdinfo/4"};
    g_fdinfo = {{paths[0],
                 "drm-driver:\ti915\ndrm-pdev:\t0000:00:02.0\ndrm-engine-render:\t1 ns\n"
                 "drm-resident-vram:\t18446744073709551615\ndrm-resident-local0:\t9\n"},
                {paths[1], "drm-driver:\ti915\ndrm-pdev:\t0000:00:02.00\ndrm-client-id:\t5\n"}};
    EngineHistory history;
    EngineShares shares = engine_shares(paths, ReadFake, &history, 1000, "0000:00:02.0");
    ASSERT_EQ(shares.byClient.size(), 1u) << "a client of another device is left out";
    EXPECT_EQ(shares.byClient[0].id, "") << "a client without an id is its descriptor";
    EXPECT_EQ(shares.byClient[0].deviceBytes, UINT64_MAX);
    EXPECT_EQ(engine_shares(paths, ReadFake, &history, 2000, "").byClient.size(), 2u)
        << "every client where no device is named";
}

TEST(KernelFiles, ADescriptorIsStillAClientOnlyWhileItNamesItsNode) {
    TempDir dir;
    const auto link = [&](const char* name, const char* target) {
        const std::string path = dir.Path(name);
        EXPECT_EQ(symlink(target, path.c_str()), 0) << name;
        return path;
    };
    const std::vector<DrmDescriptor> found = {
        {1, "renderD128", link("same", "/dev/dri/renderD128"), "same"},
        {1, "renderD128", link("other", "/dev/dri/renderD129"), "other"},
        {1, "renderD128", link("elsewhere", "/dev/drX/renderD128"), "elsewhere"},
        {1, "renderD128", link("card", "/dev/dri/card1"), "card"},
        {1, "renderD128", dir.Path("closed"), "closed"}};
    const std::vector<DrmDescriptor> open = drm_still_open(found);
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].fdinfo, "same");
    // However many a walk found, a GPU reads a bounded number of them.
    DrmDescriptors known;
    for (uint32_t pid = 0; pid < kMaxDescriptorsPerGpu + 10; ++pid)
        known[pid] = {DrmDescriptor{pid, "renderD128", "", ""}};
    size_t leftOut = 0;
    EXPECT_EQ(drm_descriptors_on(known, {"renderD128"}, &leftOut).size(), kMaxDescriptorsPerGpu);
    EXPECT_EQ(leftOut, 10u) << "and says how many it left out";
    EXPECT_TRUE(drm_descriptors_on(known, {"renderD129"}).empty());
    // 64 processes of 64 idle descriptors each never crowd out a 65th's one.
    known.clear();
    for (uint32_t pid = 1; pid <= 64; ++pid)
        known[pid].assign(kMaxDescriptorsPerProcess, DrmDescriptor{pid, "renderD128", "", ""});
    known[900] = {DrmDescriptor{900, "renderD128", "", "busy"}};
    const std::vector<DrmDescriptor> taken = drm_descriptors_on(known, {"renderD128"}, &leftOut);
    EXPECT_EQ(taken.size(), kMaxDescriptorsPerGpu);
    EXPECT_EQ(leftOut, 1u);
    EXPECT_TRUE(std::any_of(taken.begin(), taken.end(),
                            [](const DrmDescriptor& d) { return d.fdinfo == "busy"; }));
}

TEST(KernelFiles, GpuMetricsTablesAreReadByTheirRevisionOnly) {
    const uint64_t powerAndThermal = (1ULL << 2) | (1ULL << 33);
    const std::map<uint32_t, std::pair<uint32_t, uint64_t>> discrete = {
        {6, {2, 85}}, {8, {2, 70}}, {18, {2, 42}}, {112, {8, powerAndThermal}}};
    GpuMetricsTable table;
    ASSERT_TRUE(gpu_metrics_parse(MetricsTable(120, 1, 3, discrete), &table));
    EXPECT_TRUE(table.known);
    EXPECT_EQ(table.hotspotC.value, 85u);
    EXPECT_EQ(table.memoryC.value, 70u);
    EXPECT_EQ(table.memoryActivity.state, MetricsField::kRead);
    EXPECT_EQ(table.memoryActivity.value, 42u);
    EXPECT_TRUE(table.powerLimited && table.thermalLimited && !table.otherLimited);
    // 1.1 is 1.3 cut short: what lies past its size is not there; nor past what was read.
    ASSERT_TRUE(gpu_metrics_parse(MetricsTable(80, 1, 1, discrete), &table));
    EXPECT_EQ(table.memoryActivity.value, 42u);
    EXPECT_EQ(table.throttle.state, MetricsField::kAbsent);
    ASSERT_TRUE(gpu_metrics_parse(MetricsTable(120, 1, 3, discrete).substr(0, 100), &table));
    EXPECT_EQ(table.throttle.state, MetricsField::kAbsent);
    // Nothing filled (all ones), a share no memory controller has.
    ASSERT_TRUE(gpu_metrics_parse(MetricsTable(120, 1, 3, {{18, {2, 655}}}), &table));
    EXPECT_EQ(table.memoryActivity.state, MetricsField::kAbsurd);
    EXPECT_EQ(table.hotspotC.state, MetricsField::kAbsent);
    EXPECT_EQ(table.throttle.state, MetricsField::kAbsent);
    EXPECT_FALSE(table.powerLimited || table.thermalLimited || table.otherLimited);
    // An APU of 2.2: only its throttle status, current and PPM limits as other limits.
    ASSERT_TRUE(gpu_metrics_parse(
        MetricsTable(128, 2, 2, {{120, {8, (1ULL << 17) | (1ULL << 57)}}, {18, {2, 42}}}), &table));
    EXPECT_TRUE(table.known && table.otherLimited && !table.powerLimited);
    EXPECT_EQ(table.memoryActivity.state, MetricsField::kAbsent);
    // Layouts not known here are never read at another's offsets; a table without a header.
    for (const auto& revision :
         {std::make_pair(1, 4), std::make_pair(2, 1), std::make_pair(3, 0), std::make_pair(1, 0)}) {
        ASSERT_TRUE(gpu_metrics_parse(MetricsTable(120, static_cast<uint8_t>(revision.first),
                                                   static_cast<uint8_t>(revision.second), discrete),
                                      &table));
        EXPECT_FALSE(table.known) << revision.first << "." << revision.second;
        EXPECT_EQ(table.hotspotC.state, MetricsField::kAbsent);
    }
    EXPECT_FALSE(gpu_metrics_parse(std::string("\x04\x00\x01", 3), &table));
}

// Intel's throttle reasons and idle residency in i915's layout, its older names and xe's.
TEST(KernelFiles, IntelLimitsAndIdleResidencyInEveryLayout) {
    TempDir dir;
    const auto write = [&](const std::string& path, const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(dir.Path(path)).parent_path());
        return dir.Write(path, text);
    };
    // i915: two GTs, a power limit on one; its idle time in each GT.
    write("i915/drm/card1/gt/gt0/throttle_reason_pl1", "1\n");
    write("i915/drm/card1/gt/gt0/throttle_reason_thermal", "0\n");
    write("i915/drm/card1/gt/gt1/throttle_reason_ratl", "0\n");
    write("i915/drm/card1/gt_throttle_reason_status_prochot", "1\n");  // the older name: not read
    write("i915/drm/card1/gt/gt0/rc6_residency_ms", "1000\n");
    write("i915/drm/card1/gt/gt1/rc6_residency_ms", "3000\n");
    const std::vector<LimitFile> i915 =
        intel_limit_files(dir.Path("i915"), dir.Path("i915/drm/card1"));
    EXPECT_EQ(i915.size(), 3u);
    LimitState state = intel_read_limits(i915);
    EXPECT_TRUE(state.read && state.power && !state.thermal && !state.other);
    // An older i915: the card's own names; xe: per tile and GT.
    write("old/drm/card0/gt_throttle_reason_status_prochot", "1\n");
    write("old/drm/card0/power/rc6_residency_ms", "5\n");
    state = intel_read_limits(intel_limit_files(dir.Path("old"), dir.Path("old/drm/card0")));
    EXPECT_TRUE(state.read && state.thermal && !state.power);
    EXPECT_EQ(intel_idle_files(dir.Path("old"), dir.Path("old/drm/card0")).size(), 1u);
    write("xe/tile0/gt0/freq0/throttle/reason_vr_tdc", "1\n");
    write("xe/tile0/gt1/freq0/throttle/reason_pl2", "0\n");
    write("xe/tile0/gt0/gtidle/idle_residency_ms", "7\n");
    state = intel_read_limits(intel_limit_files(dir.Path("xe"), dir.Path("xe/drm/card0")));
    EXPECT_TRUE(state.read && state.other && !state.power);
    EXPECT_EQ(intel_idle_files(dir.Path("xe"), dir.Path("xe/drm/card0")).size(), 1u);
    EXPECT_FALSE(intel_read_limits(intel_limit_files(dir.Path("none"), dir.Path("none"))).read);
    // Idle: a baseline first; then 50 ms more in each of two GTs over 100 ms is half the
    // time; a counter that went back takes a new baseline.
    const std::vector<std::string> idle =
        intel_idle_files(dir.Path("i915"), dir.Path("i915/drm/card1"));
    ASSERT_EQ(idle.size(), 2u);
    IdleHistory history;
    EXPECT_EQ(intel_read_idle(idle, &history).status, kReadingNoData);
    history.atNs -= 100000000;
    write("i915/drm/card1/gt/gt0/rc6_residency_ms", "1050\n");
    write("i915/drm/card1/gt/gt1/rc6_residency_ms", "3050\n");
    const CounterReading half = intel_read_idle(idle, &history);
    ASSERT_EQ(half.status, 0);
    EXPECT_NEAR(static_cast<double>(half.value) / static_cast<double>(half.cycle), 0.5, 0.05);
    write("i915/drm/card1/gt/gt0/rc6_residency_ms", "1\n");
    EXPECT_EQ(intel_read_idle(idle, &history).status, kReadingNoData);
    EXPECT_EQ(intel_read_idle({}, &history).status, kReadingNotAvailable);
}

// AMD's RAS counts summed over blocks, and a driver's cumulative figure as a count that
// never goes back.
TEST(KernelFiles, ErrorCountsAddUpAndCumulativeCountsNeverGoBack) {
    uint64_t ue = 9, ce = 9;
    EXPECT_TRUE(amd_parse_ras("ue: 2\nce: 5\n", &ue, &ce));
    EXPECT_EQ(ue, 2u);
    EXPECT_EQ(ce, 5u);
    for (const char* bad : {"ue: 2\n", "ce: 1\nue: x\n", "", "ue: 1x\nce: 1\n", "xue: 1\nce: 1"})
        EXPECT_FALSE(amd_parse_ras(bad, &ue, &ce)) << bad;
    TempDir dir;
    std::filesystem::create_directories(dir.Path("gpu/ras"));
    dir.Write("gpu/ras/umc_err_count", "ue: 1\nce: 18446744073709551615\n");
    dir.Write("gpu/ras/gfx_err_count", "ue: 3\nce: 4\n");
    dir.Write("gpu/ras/sdma_err_count", "recovering\n");
    dir.Write("gpu/ras/features", "feature mask: 0x3\n");
    const std::vector<std::string> files = amd_ras_files(dir.Path("gpu"));
    EXPECT_EQ(files.size(), 3u);
    const RasCounts counts = amd_read_ras(files);
    EXPECT_TRUE(counts.read);
    EXPECT_EQ(counts.uncorrectable, 4u);
    EXPECT_EQ(counts.correctable, UINT64_MAX) << "a sum that would wrap stops";
    EXPECT_FALSE(amd_read_ras(amd_ras_files(dir.Path("none"))).read);
    // The first figure counts in full; a reset or a 32-bit wrap adds the new figure.
    CumulativeCount count;
    const struct {
        uint64_t raw, total;
    } steps[] = {{100, 100}, {150, 150}, {20, 170}, {4294967290, 4294967440}, {5, 4294967445}};
    for (const auto& step : steps)
        EXPECT_EQ(cumulative_take(&count, step.raw), step.total) << step.raw;
    count.total = UINT64_MAX - 1;
    EXPECT_EQ(cumulative_take(&count, 100), UINT64_MAX);
}

TEST(KernelFiles, ClockLevelsModelNamesAndEnergyRates) {
    uint64_t mhz = 0;
    EXPECT_TRUE(drm_current_level_mhz("0: 500Mhz \n1: 1340Mhz *\n2: 2575Mhz \n", &mhz));
    EXPECT_EQ(mhz, 1340u);
    EXPECT_FALSE(drm_current_level_mhz("0: 500Mhz \n1: 1340Mhz \n", &mhz));
    TempDir dir;
    const std::string ids = dir.Write("pci.ids",
                                      "1002  AMD\n\t73bf  Navi 21\n\t\t1002 73bf  Subsystem\n"
                                      "8086  Intel\n\t73bf  Not AMD's\n\t46a6  Iris\x01 Xe\n");
    EXPECT_EQ(pci_model_name(ids, 0x1002, 0x73bf), "Navi 21");
    EXPECT_EQ(pci_model_name(ids, 0x8086, 0x46a6), "Iris? Xe");
    EXPECT_EQ(pci_model_name(ids, 0x10de, 0x2330), "");
    EXPECT_EQ(pci_model_name(dir.Path("none"), 0x1002, 0x73bf), "");
    // An energy counter: 2 J over 100 ms is 20 W; one that wrapped or was reset fails once
    // and is measured from there on.
    DrmSources sources;
    sources.energyMicrojoules = dir.Write("energy1_input", "5000000\n");
    EnergyHistory history{3000000, drm_now_ns() - 100000000};
    CounterReading power = drm_read_power(sources, &history, nullptr);
    EXPECT_EQ(power.status, 0);
    EXPECT_NEAR(static_cast<double>(power.value), 20000, 2000);
    dir.Write("energy1_input", "1000\n");
    EXPECT_EQ(drm_read_power(sources, &history, nullptr).status, kReadingNoData);
    EXPECT_EQ(history.microjoules, 1000u);
}

TEST(KernelFiles, FilesAreReadDefensively) {
    TempDir dir;
    const struct {
        const char* text;
        int error;
        int64_t value;
    } integers[] = {{"42\n", 0, 42},  {" -7 \n", 0, -7},   {"12x\n", EBADMSG, 0},
                    {"", EBADMSG, 0}, {"abc", EBADMSG, 0}, {"99999999999999999999", EBADMSG, 0}};
    for (const auto& c : integers) {
        int64_t value = 0;
        EXPECT_EQ(drm_read_integer(dir.Write("number", c.text), &value), c.error) << c.text;
        EXPECT_EQ(c.error == 0 ? value : c.value, c.value) << c.text;
    }
    int64_t value = 0;
    EXPECT_EQ(drm_read_integer(dir.Path("missing"), &value), ENOENT);
    EXPECT_EQ(drm_read_integer(dir.Path(""), &value), EISDIR);  // the folder itself
    std::string text;
    EXPECT_EQ(drm_read_file(dir.Write("long", std::string(10000, 'x')), 5000, &text), 0);
    EXPECT_EQ(text.size(), 5000u);
    EXPECT_EQ(drm_read_line(dir.Write("lines", "first\x1b[2J\nsecond\n")), "first?[2J");
    EXPECT_EQ(drm_read_line(dir.Path("missing")), "");
    EXPECT_TRUE(drm_list(dir.Path("missing")).empty());
    EXPECT_EQ(drm_list(dir.Path("")), (std::vector<std::string>{"lines", "long", "number"}));
    EXPECT_EQ(drm_link_name(dir.Path("long")), "");  // no link
    // What such files make of readings: garbage is no data, a number outside the range
    // too; runtime power management that is off is no sleep.
    EXPECT_EQ(drm_read_percent(dir.Write("busy", "101\n")).status, kReadingNoData);
    EXPECT_EQ(drm_read_percent(dir.Write("busy", "n/a\n")).status, kReadingNoData);
    EXPECT_EQ(drm_read_percent(dir.Path("")).status, kReadingNoData);
    DrmSources s;
    s.fanRpm = dir.Write("fan1_input", "garbage\n");
    s.fanMaxRpm = dir.Write("fan1_max", "3000\n");
    s.fanPwm = dir.Write("pwm1", "128\n");
    EXPECT_EQ(drm_read_fan(s).value, 128u);  // pwm1 where the speed reads wrong
    s.graphicsHz = dir.Write("freq1_input", "1400400000\n");
    CounterReading clocks[4];
    drm_read_clocks(s, clocks);
    EXPECT_EQ(clocks[0].value, 1400u);
    EXPECT_EQ(clocks[2].status, kReadingNotAvailable);
    // Figures beyond what any hardware gives fail, and sum nothing out of range: a clock,
    // the VRAM, more used than there is; an integrated GPU's GTT is then left out.
    const struct {
        const char* file;
        const char* text;
        int32_t clock, memory;
        uint64_t usedMib;
    } absurd[] = {
        {"freq1_input", "9223372036854775807\n", kReadingNoData, 0, 2048},
        {"pp_dpm_sclk", "0: 500Mhz \n1: 18446744073709551615Mhz *\n", kReadingNoData, 0, 2048},
        {"vram_used", "9223372036854775807\n", 0, kReadingNoData, 0},
        {"vram_total", "1073741823\n", 0, kReadingNoData, 0},
        {"gtt_used", "9223372036854775807\n", 0, 0, 1024},
    };
    for (const auto& c : absurd) {
        DrmSources b;
        b.graphicsHz = dir.Write("freq1_input", "1400400000\n");
        b.vramUsed = dir.Write("vram_used", "1073741824\n");
        b.vramTotal = dir.Write("vram_total", "17179869184\n");
        b.gttUsed = dir.Write("gtt_used", "1073741824\n");
        b.gttTotal = dir.Write("gtt_total", "8589934592\n");
        b.integrated = std::string(c.file) != "vram_total";
        const std::string path = dir.Write(c.file, c.text);
        if (std::string(c.file) == "pp_dpm_sclk") b.graphicsLevels = path;
        drm_read_clocks(b, clocks);
        CounterReading memory[3];
        drm_read_memory(b, memory);
        EXPECT_EQ(clocks[0].status, c.clock) << c.file;
        EXPECT_EQ(memory[0].status, c.memory) << c.file;
        EXPECT_EQ(memory[0].value, c.usedMib) << c.file;
    }
    for (const char* status : {"unsupported", "active"}) {
        s.runtimeStatus = dir.Write("runtime_status", std::string(status) + "\n");
        EXPECT_FALSE(drm_asleep(s)) << status;
    }
    s.runtimeStatus = dir.Write("runtime_status", "suspending\n");
    EXPECT_TRUE(drm_asleep(s));
}

}  // namespace
