#include "process_groups.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "exposition.h"

namespace {

bool EndsWith(const std::string& text, const char* end) {
    const size_t length = strlen(end);
    return text.size() >= length && text.compare(text.size() - length, length, end) == 0;
}

bool AllHex(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return isxdigit(static_cast<unsigned char>(c)) != 0;
    });
}

// The file's cgroup paths, the cgroup v2 one ("0::/a/b") first, then each hierarchy's of
// cgroup v1: on a hybrid machine the v2 path may be "/" while a v1 one names the container.
std::vector<std::string> CgroupPaths(const std::string& file) {
    std::vector<std::string> paths;
    for (size_t at = 0; at < file.size();) {
        size_t end = file.find('\n', at);
        if (end == std::string::npos) end = file.size();
        const std::string line = file.substr(at, end - at);
        at = end + 1;
        const size_t colon = line.find(':');
        const size_t second = colon == std::string::npos ? colon : line.find(':', colon + 1);
        if (second == std::string::npos) continue;
        if (line.compare(0, 3, "0::") == 0)
            paths.insert(paths.begin(), line.substr(second + 1));
        else
            paths.push_back(line.substr(second + 1));
    }
    return paths;
}

std::vector<std::string> PathParts(const std::string& path) {
    std::vector<std::string> parts;
    for (size_t at = 0; at <= path.size();) {
        size_t end = path.find('/', at);
        if (end == std::string::npos) end = path.size();
        if (end > at) parts.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    return parts;
}

// A name from a cgroup path as a label shows it: printable ASCII, the rest '?', as process
// names are.
std::string Printable(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) c = '?';
    return text;
}

// A pod's uid as Kubernetes writes it: the systemd driver's underscores back to dashes.
std::string PodUid(std::string uid) {
    std::replace(uid.begin(), uid.end(), '_', '-');
    return uid;
}

// A pod's uid: 32 hexadecimal digits, with dashes (cgroupfs) or underscores (systemd)
// between its five groups.
bool LooksLikeUid(const std::string& uid) {
    if (uid.size() != 36) return false;
    for (size_t i = 0; i < uid.size(); ++i) {
        const bool separator = i == 8 || i == 13 || i == 18 || i == 23;
        if (separator ? uid[i] != '-' && uid[i] != '_'
                      : !isxdigit(static_cast<unsigned char>(uid[i])))
            return false;
    }
    return true;
}

// Under a kubepods hierarchy, "pod<uid>" (cgroupfs) or "kubepods-[<qos>-]pod<uid>.slice"
// (systemd): the uid; "" for anything else, such as podman.service.
std::string PodOf(const std::string& part, bool underKubepods) {
    if (underKubepods && part.compare(0, 3, "pod") == 0 && LooksLikeUid(part.substr(3)))
        return PodUid(part.substr(3));
    const size_t at = part.rfind("-pod");
    if (part.compare(0, 8, "kubepods") != 0 || at == std::string::npos || !EndsWith(part, ".slice"))
        return "";
    const std::string uid = part.substr(at + 4, part.size() - at - 4 - 6);
    return LooksLikeUid(uid) ? PodUid(uid) : "";
}

// A container runtime's id in a path part: docker-<id>.scope, cri-containerd-<id>.scope,
// crio-<id>.scope, libpod-<id>.scope, libpod-payload-<id> or a bare <id> (cgroupfs); 64
// hexadecimal digits.
std::string ContainerOf(std::string part) {
    if (EndsWith(part, ".scope")) part.resize(part.size() - 6);
    for (const char* prefix : {"docker-", "cri-containerd-", "crio-", "libpod-payload-", "libpod-"})
        if (part.compare(0, strlen(prefix), prefix) == 0) {
            part = part.substr(strlen(prefix));
            break;
        }
    return part.size() == 64 && AllHex(part) ? part.substr(0, 12) : "";
}

constexpr double kNsPerSecond = 1e9;

// Engine time is summed in whole nanoseconds and only divided when written, so that the
// seconds read as the shortest text of what was counted (0.24, never 0.24000000000000002).
double Seconds(uint64_t ns) {
    return static_cast<double>(ns) / kNsPerSecond;
}

}  // namespace

CgroupPlace CgroupPlaceOf(const std::string& cgroupFile) {
    CgroupPlace place;
    // The unit from the first path that has one (v2's, else a v1 hierarchy's), the
    // container likewise: a pod, else the innermost container id.
    for (const std::string& path : CgroupPaths(cgroupFile)) {
        const std::vector<std::string> parts = PathParts(path);
        std::string unit, container;
        bool underKubepods = false;
        for (const std::string& part : parts) {
            if (EndsWith(part, ".service") || EndsWith(part, ".scope")) unit = part;
            const std::string pod = PodOf(part, underKubepods);
            if (!pod.empty()) container = pod;  // a pod's containers are one workload
            underKubepods = underKubepods || part.compare(0, 8, "kubepods") == 0;
        }
        for (auto part = parts.rbegin(); part != parts.rend() && container.empty(); ++part)
            container = ContainerOf(*part);
        if (place.unit.empty()) place.unit = Printable(unit);
        if (place.container.empty()) place.container = Printable(container);
    }
    return place;
}

namespace {

std::string GroupByKey(ProcessGroupKey key, const GpuClient& client, const CgroupPlace& place) {
    switch (key) {
        case ProcessGroupKey::kName:
            return std::string(client.name, strnlen(client.name, sizeof client.name));
        case ProcessGroupKey::kUser:
            return std::string(client.user, strnlen(client.user, sizeof client.user));
        case ProcessGroupKey::kUnit:
            return place.unit.empty() ? "host" : place.unit;
        case ProcessGroupKey::kContainer:
            return place.container.empty() ? "host" : place.container;
        case ProcessGroupKey::kPid:
            return std::to_string(client.pid);
    }
    return "host";
}

}  // namespace

std::string ProcessGroupOf(ProcessGroupKey key, const GpuClient& client, const CgroupPlace& place) {
    const std::string group = GroupByKey(key, client, place);
    // An empty label is no label to Prometheus, and "other" is the groups past the bound.
    if (group.empty()) return "unknown";
    return group == "other" ? "other (a process)" : group;
}

ProcessGroups::Group& ProcessGroups::Place(uint32_t gpu, const std::string& name, uint64_t nowNs) {
    std::map<std::string, Group>& groups = groups_[gpu];
    auto found = groups.find(name);
    if (found == groups.end()) {
        if (groups.size() >= maxGroups_) return other_[gpu];
        found = groups.emplace(name, Group{}).first;
    }
    found->second.lastSeenNs = nowNs;
    return found->second;
}

void ProcessGroups::DropIdle(uint64_t nowNs) {
    for (auto& gpu : groups_) {
        for (auto group = gpu.second.begin(); group != gpu.second.end();) {
            if (nowNs - group->second.lastSeenNs < kGroupIdleNs) {
                ++group;
                continue;
            }
            // Its series end: a counter that stops is one that Prometheus's increase() and
            // rate() take as it is, while moving its time to "other" would count it again
            // there, as work done in a moment.
            group = gpu.second.erase(group);
        }
    }
}

void ProcessGroups::Take(const std::vector<GpuClient>& clients,
                         const std::vector<std::string>& groups, uint64_t nowNs) {
    for (auto& gpu : groups_)
        for (auto& group : gpu.second)
            group.second.deviceBytes = group.second.systemBytes = group.second.clients = 0;
    for (auto& other : other_)
        other.second.deviceBytes = other.second.systemBytes = other.second.clients = 0;
    DropIdle(nowNs);  // first, so that a newcomer may take an idle group's place
    decltype(last_) seen;
    for (size_t i = 0; i < clients.size() && i < groups.size(); ++i) {
        const GpuClient& client = clients[i];
        Group& group = Place(client.gpu, groups[i], nowNs);
        const auto key = std::make_pair(client.gpu, client.id);
        std::array<uint64_t, kGpuEngineClasses> now;
        std::copy(std::begin(client.busyNs), std::end(client.busyNs), now.begin());
        const auto before = last_.find(key);
        const auto counted = seen.find(key);  // a shared client's other processes
        for (uint32_t c = 0; c < kGpuEngineClasses; ++c) {
            if (counted != seen.end()) {
                now[c] = counted->second[c];
                continue;
            }
            if (before == last_.end()) continue;  // its time counts from the next snapshot
            if (now[c] > before->second[c]) {
                group.busyNs[c] = SaturatingSum(group.busyNs[c], now[c] - before->second[c]);
                group.used[c] = true;
            }
            now[c] = std::max(now[c], before->second[c]);  // a counter that went back
        }
        if (counted == seen.end()) {
            group.deviceBytes = SaturatingSum(group.deviceBytes, client.deviceBytes);
            group.systemBytes = SaturatingSum(group.systemBytes, client.systemBytes);
            ++group.clients;
        }
        seen[key] = now;
    }
    last_.swap(seen);
}

std::string ProcessGroups::Families(uint32_t unreadable,
                                    const std::vector<GpuUnattributed>& unattributed,
                                    double scanSeconds,
                                    const std::vector<GpuUnread>& unread) const {
    // Every GPU's groups, "other" last where it has had any.
    std::vector<std::pair<std::string, const Group*>> rows;  // labels, group
    for (const auto& gpu : groups_) {
        const std::string gpuLabel = MetricLabel("gpu", std::to_string(gpu.first));
        for (const auto& group : gpu.second)
            rows.emplace_back(gpuLabel + "," + MetricLabel("process", group.first), &group.second);
    }
    for (const auto& other : other_)
        rows.emplace_back(MetricLabel("gpu", std::to_string(other.first)) + ",process=\"other\"",
                          &other.second);
    std::string out;
    FamilyHeader(out, "zarmite_process_gpu_busy_seconds_total", "counter",
                 "Engine time of the group's GPU clients, ended processes included, divided by "
                 "the engines of the class, in seconds");
    for (const auto& row : rows)
        for (uint32_t c = 0; c < kGpuEngineClasses; ++c)
            if (row.second->used[c])
                out += "zarmite_process_gpu_busy_seconds_total{" +
                       MetricLabel("engine", kGpuEngineClassNames[c]) + "," + row.first + "} " +
                       MetricNumber(Seconds(row.second->busyNs[c])) + "\n";
    FamilyHeader(out, "zarmite_process_gpu_memory_bytes", "gauge",
                 "Memory of the group's GPU clients now, in the GPU's own memory (device) or in "
                 "system memory, in bytes");
    for (const auto& row : rows) {
        out += "zarmite_process_gpu_memory_bytes{region=\"device\"," + row.first + "} " +
               MetricNumber(static_cast<double>(row.second->deviceBytes)) + "\n";
        out += "zarmite_process_gpu_memory_bytes{region=\"system\"," + row.first + "} " +
               MetricNumber(static_cast<double>(row.second->systemBytes)) + "\n";
    }
    FamilyHeader(out, "zarmite_process_gpu_clients", "gauge", "The group's GPU clients now");
    for (const auto& row : rows)
        out += "zarmite_process_gpu_clients{" + row.first + "} " +
               std::to_string(row.second->clients) + "\n";
    FamilyHeader(out, "zarmite_process_unreadable", "gauge",
                 "Processes whose GPU clients this host could not read");
    out += "zarmite_process_unreadable " + std::to_string(unreadable) + "\n";
    FamilyHeader(out, "zarmite_process_gpu_unattributed_ratio", "gauge",
                 "Share of the last round that the GPU was busy beyond what its visible clients "
                 "account for");
    for (const GpuUnattributed& busy : unattributed)
        out += "zarmite_process_gpu_unattributed_ratio{" +
               MetricLabel("gpu", std::to_string(busy.gpu)) + "} " +
               MetricNumber(busy.busyPercent / 100) + "\n";
    FamilyHeader(out, "zarmite_process_gpu_clients_not_read", "gauge",
                 "What the GPU's last look at its clients could not read: files that did not "
                 "answer in time (late), descriptors left unread at a cap (left_out)");
    std::map<uint32_t, GpuUnread> notRead;
    for (const auto& gpu : groups_) notRead[gpu.first] = GpuUnread{gpu.first, 0, 0};
    for (const GpuUnread& gpu : unread) notRead[gpu.gpu] = gpu;
    for (const auto& gpu : notRead) {
        const std::string label = MetricLabel("gpu", std::to_string(gpu.first));
        out += "zarmite_process_gpu_clients_not_read{" + label + ",reason=\"late\"} " +
               std::to_string(gpu.second.lateClients) + "\n";
        out += "zarmite_process_gpu_clients_not_read{" + label + ",reason=\"left_out\"} " +
               std::to_string(gpu.second.leftOut) + "\n";
    }
    FamilyHeader(out, "zarmite_process_scan_seconds", "gauge",
                 "What the counter library's last pass over the GPU clients took, in seconds");
    out += "zarmite_process_scan_seconds " + MetricNumber(scanSeconds) + "\n";
    return out;
}

std::vector<std::string> ProcessGroups::GroupsOf(uint32_t gpu) const {
    std::vector<std::string> names;
    const auto found = groups_.find(gpu);
    if (found != groups_.end())
        for (const auto& group : found->second) names.push_back(group.first);
    if (other_.count(gpu) > 0) names.push_back("other");
    return names;
}

double ProcessGroups::SecondsOf(uint32_t gpu, const std::string& group,
                                uint32_t engineClass) const {
    if (group == "other") {
        const auto other = other_.find(gpu);
        return other == other_.end() ? 0 : Seconds(other->second.busyNs[engineClass]);
    }
    const auto found = groups_.find(gpu);
    if (found == groups_.end()) return 0;
    const auto named = found->second.find(group);
    return named == found->second.end() ? 0 : Seconds(named->second.busyNs[engineClass]);
}
