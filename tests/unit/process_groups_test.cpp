// Who uses the GPU for fleets: clients grouped into a bounded number of groups a GPU whose
// counters never go back, and the groups by unit and container from cgroup files as the
// kernel, systemd and the container runtimes write them.
#include "process_groups.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host_options.h"

namespace {

constexpr uint64_t kSecond = 1000000000ULL;

GpuClient Client(uint32_t gpu, uint32_t pid, uint64_t id, uint64_t graphicsNs, const char* name) {
    GpuClient client;
    memset(&client, 0, sizeof client);
    client.gpu = gpu;
    client.pid = pid;
    client.id = id;
    client.busyNs[kEngineGraphics] = graphicsNs;
    client.deviceBytes = 1 << 20;
    snprintf(client.name, sizeof client.name, "%s", name);
    return client;
}

double Total(const ProcessGroups& groups, uint32_t gpu) {
    double total = 0;
    for (const std::string& group : groups.GroupsOf(gpu))
        total += groups.SecondsOf(gpu, group, kEngineGraphics);
    return total;
}

TEST(ProcessGroups, CountersKeepEndedProcessesTimeAndAReusedPidStartsAfresh) {
    ProcessGroups groups(50);
    const auto take = [&](const std::vector<GpuClient>& clients, uint64_t at) {
        std::vector<std::string> names;
        for (const GpuClient& client : clients) names.push_back(client.name);
        groups.Take(clients, names, at);
    };
    // Two processes of one name, one of them sharing its client with a child.
    GpuClient shared = Client(0, 10, 1, 1 * kSecond, "render");
    GpuClient child = Client(0, 11, 1, 1 * kSecond, "render");
    take({shared, child, Client(0, 12, 2, 5 * kSecond, "render")}, 1 * kSecond);
    EXPECT_EQ(groups.SecondsOf(0, "render", kEngineGraphics), 0) << "counted from the next";
    shared.busyNs[kEngineGraphics] = child.busyNs[kEngineGraphics] = 3 * kSecond;
    take({shared, child, Client(0, 12, 2, 6 * kSecond, "render")}, 2 * kSecond);
    EXPECT_DOUBLE_EQ(groups.SecondsOf(0, "render", kEngineGraphics), 3) << "a shared client once";
    // Pid 12 ends; its time stays. Pid 10's number comes back as a new process (a new
    // client) whose time starts from its own second snapshot, and a counter that went back
    // counts nothing.
    take({Client(0, 10, 9, 4 * kSecond, "render"), child}, 3 * kSecond);
    EXPECT_DOUBLE_EQ(groups.SecondsOf(0, "render", kEngineGraphics), 3);
    take({Client(0, 10, 9, 5 * kSecond, "render"), Client(0, 11, 1, 2 * kSecond, "render")},
         4 * kSecond);
    EXPECT_DOUBLE_EQ(groups.SecondsOf(0, "render", kEngineGraphics), 4);
    take({Client(0, 10, 9, 5 * kSecond, "render"), Client(0, 11, 1, 4 * kSecond, "render")},
         5 * kSecond);
    EXPECT_DOUBLE_EQ(groups.SecondsOf(0, "render", kEngineGraphics), 5)
        << "the counter that went back is taken from its larger value";
    const std::string text = groups.Families(2, {{0, 12.5}}, 0.004, {{1, 3, 7}});
    EXPECT_NE(text.find("zarmite_process_gpu_busy_seconds_total{engine=\"graphics\",gpu=\"0\","
                        "process=\"render\"} 5\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("zarmite_process_gpu_clients{gpu=\"0\",process=\"render\"} 2\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("zarmite_process_gpu_unattributed_ratio{gpu=\"0\"} 0.125\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("zarmite_process_unreadable 2\nzarmite_process_scan"),
              std::string::npos - 1);
    EXPECT_NE(text.find("zarmite_process_scan_seconds 0.004\n"), std::string::npos) << text;
    // What each GPU's look could not read: 0 for a GPU that read all, by reason.
    EXPECT_NE(text.find("zarmite_process_gpu_clients_not_read{gpu=\"0\",reason=\"late\"} 0\n"
                        "zarmite_process_gpu_clients_not_read{gpu=\"0\",reason=\"left_out\"} 0\n"
                        "zarmite_process_gpu_clients_not_read{gpu=\"1\",reason=\"late\"} 3\n"
                        "zarmite_process_gpu_clients_not_read{gpu=\"1\",reason=\"left_out\"} 7\n"),
              std::string::npos)
        << text;
}

// 500 names on a GPU of at most 50 groups: the first 50 and "other"; a group without a
// client for ten minutes is dropped, its series simply ending (its time is never moved to
// "other", where a rate would read it as work done at once), and a new name takes its place.
TEST(ProcessGroups, ManyNamesAreBoundedAndIdleGroupsEndWithoutSpikingOther) {
    ProcessGroups groups(50);
    double before = 0;
    for (uint64_t round = 0; round < 4; ++round) {
        std::vector<GpuClient> clients;
        std::vector<std::string> names;
        for (uint32_t n = 0; n < 500; ++n) {
            clients.push_back(Client(n % 4, 1000 + n, n, round * kSecond, ""));
            names.push_back("app-" + std::to_string(n));
        }
        groups.Take(clients, names, (round + 1) * kSecond);
        for (uint32_t gpu = 0; gpu < 4; ++gpu) EXPECT_EQ(groups.GroupsOf(gpu).size(), 51u);
        const double total = Total(groups, 0);
        EXPECT_GE(total, before);
        before = total;
    }
    EXPECT_DOUBLE_EQ(before, 3 * 125) << "every client's time, in its group or in other";
    EXPECT_DOUBLE_EQ(groups.SecondsOf(0, "other", kEngineGraphics), 3 * 75);
    // Ten minutes later only a newcomer is there; "other" has grown by nothing.
    groups.Take({Client(0, 5, 99999, 0, "")}, {"newcomer"}, 4 * kSecond + kGroupIdleNs);
    EXPECT_EQ(groups.GroupsOf(0), (std::vector<std::string>{"newcomer", "other"}));
    EXPECT_DOUBLE_EQ(groups.SecondsOf(0, "other", kEngineGraphics), 3 * 75);
}

// Seconds read as the shortest text of what was counted, never float noise; memory sums
// stop at the largest value rather than wrap.
TEST(ProcessGroups, SecondsHaveNoFloatNoiseAndMemorySumsSaturate) {
    ProcessGroups groups(50);
    GpuClient big = Client(0, 1, 1, 0, "job");
    GpuClient other = Client(0, 2, 2, 0, "job");
    big.deviceBytes = other.deviceBytes = UINT64_MAX / 2 + 2;
    for (uint64_t round = 0; round < 4; ++round) {
        big.busyNs[kEngineGraphics] = round * 80000000;  // 0.08 s a round
        groups.Take({big, other}, {"job", "job"}, (round + 1) * kSecond);
    }
    const std::string text = groups.Families(0, {}, 0);
    EXPECT_NE(text.find("process=\"job\"} 0.24\n"), std::string::npos) << text;
    EXPECT_NE(text.find("{region=\"device\",gpu=\"0\",process=\"job\"} 1.8446744073709552e+19\n"),
              std::string::npos)
        << text;
}

TEST(ProcessGroups, GroupsByUnitAndContainerFromCgroupFiles) {
    const std::string id(64, 'a');
    const struct {
        std::string cgroup;
        const char* unit;
        std::string container;
    } cases[] = {
        {"0::/system.slice/nginx.service\n", "nginx.service", ""},
        {"0::/user.slice/user-1000.slice/session-3.scope\n", "session-3.scope", ""},
        {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/app-firefox-1234.scope\n",
         "app-firefox-1234.scope", ""},
        {"0::/system.slice/docker-" + id + ".scope\n", nullptr, "aaaaaaaaaaaa"},
        {"12:devices:/docker/" + id + "\n1:name=systemd:/docker/" + id + "\n", "", "aaaaaaaaaaaa"},
        {"0::/system.slice/containerd.service/cri-containerd-" + id + ".scope\n", nullptr,
         "aaaaaaaaaaaa"},
        {"0::/machine.slice/libpod-" + id + ".scope/container\n", nullptr, "aaaaaaaaaaaa"},
        {"0::/machine.slice/libpod-conmon-" + id + ".scope\n", nullptr, ""},
        {"0::/kubepods.slice/kubepods-burstable.slice/kubepods-burstable-pod12345678_aaaa_bbbb_"
         "cccc_0123456789ab.slice/crio-" +
             id + ".scope\n",
         nullptr, "12345678-aaaa-bbbb-cccc-0123456789ab"},
        {"0::/kubepods/besteffort/pod87654321-aaaa-bbbb-cccc-0123456789ab/" + id + "\n", "",
         "87654321-aaaa-bbbb-cccc-0123456789ab"},
        {"0::/\n", "", ""},
        {"garbage", "", ""},
        // Units whose names begin like a pod's, Podman's payload, a hybrid machine whose
        // container shows in a v1 hierarchy only, a pod named outside kubepods.
        {"0::/system.slice/podman.service\n", "podman.service", ""},
        {"0::/user.slice/user-1000.slice/user@1000.service/podcast-sync.service\n",
         "podcast-sync.service", ""},
        {"0::/machine.slice/libpod-" + id + ".scope/libpod-payload-" + id + "\n", nullptr,
         "aaaaaaaaaaaa"},
        {"12:pids:/docker/" + id + "\n11:memory:/docker/" + id + "\n0::/\n", "", "aaaaaaaaaaaa"},
        {"0::/system.slice/pod87654321-aaaa-bbbb-cccc-0123456789ab.service\n", nullptr, ""},
        // Pods and containers whose ids are not quite ids.
        {"0::/kubepods.slice/kubepods-pod12345678_aaaa_bbbb_cccc_0123456789ab.slice\n", "",
         "12345678-aaaa-bbbb-cccc-0123456789ab"},
        {"0::/kubepods.slice/kubepods-pod12345678_aaaa_bbbb_cccc_0123456789a.slice\n", "", ""},
        {"0::/kubepods.slice/kubepods-pod12345678.aaaa_bbbb_cccc_0123456789ab.slice\n", "", ""},
        {"0::/kubepods.slice/kubepods-pod12345678_aaaa_bbbb_cccc_0123456789ag.slice\n", "", ""},
        {"0::/kubepods.slice/kubepods-pod12345678_aaaa_bbbb_cccc_0123456789ab.scope\n", nullptr,
         ""},
        {"0::/kubepods/burstable/podnot-a-uid/" + id.substr(1) + "\n", "", ""},
        {"0::/system.slice/docker-" + std::string(63, 'a') + "g.scope\n", nullptr, ""},
        // Bytes that are no printable ASCII never reach a label as they are.
        {"0::/system.slice/a\x1b[31mb\tc\xff.service\n", "a?[31mb?c?.service", ""},
    };
    for (const auto& c : cases) {
        const CgroupPlace place = CgroupPlaceOf(c.cgroup);
        if (c.unit != nullptr) {
            EXPECT_EQ(place.unit, c.unit) << c.cgroup;
        }
        EXPECT_EQ(place.container, c.container) << c.cgroup;
        const GpuClient client = Client(0, 7, 1, 0, "x");
        EXPECT_EQ(ProcessGroupOf(ProcessGroupKey::kContainer, client, place),
                  c.container.empty() ? "host" : c.container);
    }
    const GpuClient client = Client(0, 7, 1, 0, "");
    EXPECT_EQ(ProcessGroupOf(ProcessGroupKey::kUnit, client, CgroupPlace{}), "host");
    EXPECT_EQ(ProcessGroupOf(ProcessGroupKey::kPid, client, CgroupPlace{}), "7");
    EXPECT_EQ(ProcessGroupOf(ProcessGroupKey::kName, client, CgroupPlace{}), "unknown");
    EXPECT_EQ(ProcessGroupOf(ProcessGroupKey::kName, Client(0, 7, 1, 0, "other"), CgroupPlace{}),
              "other (a process)");
}

// Any byte a process can put in its name reaches the text escaped, as valid UTF-8.
TEST(ProcessGroups, NamesAreEscapedAsTheTextFormatRequires) {
    ProcessGroups groups(50);
    GpuClient client = Client(0, 1, 1, 0, "");
    memset(client.name, 'x', sizeof client.name);  // no terminator
    groups.Take({client}, {"a\"b\\c\nd\xff"}, kSecond);
    const std::string text = groups.Families(0, {}, 0);
    EXPECT_NE(text.find("process=\"a\\\"b\\\\c\\nd\xEF\xBF\xBD\"} "), std::string::npos) << text;
}

}  // namespace
