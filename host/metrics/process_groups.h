// Who uses the GPU, for fleets: the GPU clients grouped (by process name, user, systemd
// unit, container or pid) into a bounded number of groups a GPU, each with counters of
// engine time that keep the work of its ended processes, as Prometheus families. Pure,
// so that the tests drive it with made-up snapshots and times.
//
// A group once exported keeps its series while it has clients; beyond the bound, new
// groups add to "other"; a group without a client for ten minutes is dropped, its time
// moving to "other", so that no total over a GPU's groups ever goes down.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "gpu_clients.h"
#include "gpu_processes.h"
#include "host_options.h"

// What a process's cgroup file (/proc/PID/cgroup) says of it: its systemd unit (the last
// part of the path that ends in .service or .scope) and its container (a Docker,
// containerd, CRI-O or Podman id, cut to 12 characters; a Kubernetes pod's uid); "" for
// either where the path names none.
struct CgroupPlace {
    std::string unit;
    std::string container;
};
CgroupPlace CgroupPlaceOf(const std::string& cgroupFile);

// The group of a client: its name, user, unit, container or pid; "host" for a process
// whose cgroup names no unit or container, "unknown" for an empty name, and a process
// named "other" is "other (a process)", apart from the groups past the bound.
std::string ProcessGroupOf(ProcessGroupKey key, const GpuClient& client, const CgroupPlace& place);

constexpr uint64_t kGroupIdleNs = 600ULL * 1000000000ULL;  // ten minutes without a client

class ProcessGroups {
public:
    explicit ProcessGroups(uint32_t maxGroups) : maxGroups_(maxGroups) {}

    // Takes a snapshot: each client with its group's name (groups[i] for clients[i]),
    // at `nowNs` on a clock that only grows. A client's engine time counts from its second
    // snapshot on; a client that went backwards counts no time.
    void Take(const std::vector<GpuClient>& clients, const std::vector<std::string>& groups,
              uint64_t nowNs);

    // The families: busy seconds, memory and clients by GPU and group (a group idle for ten
    // minutes is dropped: its series end there); and the
    // processes that could not be read, the busy no client accounts for (a ratio, by GPU),
    // what each GPU's last look could not read (`unread`, 0 for a GPU not listed) and what
    // the last pass over the clients cost.
    std::string Families(uint32_t unreadable, const std::vector<GpuUnattributed>& unattributed,
                         double scanSeconds, const std::vector<GpuUnread>& unread = {}) const;

    // For the tests: a GPU's groups, "other" included where it has had any.
    std::vector<std::string> GroupsOf(uint32_t gpu) const;
    double SecondsOf(uint32_t gpu, const std::string& group, uint32_t engineClass) const;

private:
    struct Group {
        std::array<uint64_t, kGpuEngineClasses> busyNs{};
        std::array<bool, kGpuEngineClasses> used{};  // a series for the class exists
        uint64_t deviceBytes = 0;
        uint64_t systemBytes = 0;
        uint32_t clients = 0;
        uint64_t lastSeenNs = 0;
    };
    // The group a client's time goes to on its GPU: its own, once admitted; "other" past
    // the bound. Admits it where there is room.
    Group& Place(uint32_t gpu, const std::string& name, uint64_t nowNs);
    void DropIdle(uint64_t nowNs);

    uint32_t maxGroups_;
    std::map<uint32_t, std::map<std::string, Group>> groups_;  // by GPU, then name
    std::map<uint32_t, Group> other_;                          // by GPU
    std::map<std::pair<uint32_t, uint64_t>, std::array<uint64_t, kGpuEngineClasses>> last_;
};
