#include "metrics_output.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>

#include "cumulative_sources.h"
#include "platform.h"
#if defined(ZARMITE_HOST_ENDPOINT)
#include "metrics_endpoint.h"
#include "process_metrics.h"
#endif

namespace {

// A cgroup file read whose answer takes longer than this costs its process its group (it
// is "unknown" that round); the round goes on.
constexpr uint32_t kCgroupWaitMs = 100;
constexpr uint32_t kMaxStuckCgroupReads = 4;
constexpr size_t kCgroupFileLimit = 65536;

// A process's cgroup file, under the folder that stands for "/" (ZARMITE_DRM_ROOT, as the
// GPU library reads it).
std::string CgroupPathOf(uint32_t pid) {
    const char* root = getenv("ZARMITE_DRM_ROOT");
    return std::string(root != nullptr ? root : "") + "/proc/" + std::to_string(pid) + "/cgroup";
}

// Reads at most `limit` bytes of a file: 0, or ENOENT where it cannot be opened (another
// system, a process that ended).
int ReadCgroupFile(const std::string& path, size_t limit, std::string* out) {
    std::ifstream in(path);
    if (!in) return ENOENT;
    out->clear();
    char chunk[4096];
    while (out->size() < limit && in.read(chunk, sizeof chunk).gcount() > 0)
        out->append(chunk, static_cast<size_t>(in.gcount()));
    return 0;
}

uint64_t SteadyNs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

}  // namespace

bool MetricsOutput::Start(const HostOptions& options) {
    processMetrics_ = options.processMetrics;
    cgroupReads_ =
        std::make_unique<BoundedReads>(ReadCgroupFile, kCgroupWaitMs, kMaxStuckCgroupReads);
    groupKey_ = options.processGroup;
    if (processMetrics_) groups_ = std::make_unique<ProcessGroups>(options.processGroups);
    if (options.textfile != nullptr) {
        // Refused now rather than failing each round: a device, a folder or a link at the
        // path would be replaced by a regular file, and a folder that cannot take the file
        // would leave the collector nothing, silently.
        std::string why;
        if (!plat_file_replaceable(options.textfile, &why)) {
            fprintf(stderr, "zarmite-host: --textfile %s: %s\n", options.textfile, why.c_str());
            return false;
        }
        textfile_ = options.textfile;
    }
    if (options.serve == nullptr) return true;
#if defined(ZARMITE_HOST_ENDPOINT)
    ListenAddress address;
    std::string error;
    WebConfig config;
    if (!ParseListenAddress(options.serve, &address, &error) ||
        (options.webConfig != nullptr && !ReadWebConfig(options.webConfig, &config, &error))) {
        fprintf(stderr, "zarmite-host: %s\n", error.c_str());
        return false;
    }
    for (const std::string& warning : config.warnings)
        fprintf(stderr, "zarmite-host: warning: %s\n", warning.c_str());
    endpoint_ = StartMetricsEndpoint(address, config, Exposition::BeforeFirstRound(), &error);
    if (endpoint_ == nullptr) {
        fprintf(stderr, "zarmite-host: %s\n", error.c_str());
        return false;
    }
    url_ = std::string(config.certFile.empty() ? "http://" : "https://") +
           (address.ipv6 ? "[" + address.host + "]" : address.host) + ":" +
           std::to_string(address.port) + "/metrics";
    return true;
#else
    fprintf(stderr, "zarmite-host: --serve is in the Linux build only; here use --textfile\n");
    return false;
#endif
}

void MetricsOutput::SetSources(const std::vector<HostSource>& sources) {
    if (!Active()) {
        exposition_ = std::make_unique<Exposition>(sources);
        return;
    }
    exposition_ = std::make_unique<Exposition>(sources, CumulativeSources(sources));
    std::string where;
    if (!url_.empty()) where = "serving at " + url_;
    if (!textfile_.empty())
        where += (where.empty() ? "writing to " : " and writing to ") + textfile_;
    fprintf(stderr, "zarmite-host: %s, %u source%s\n", where.c_str(),
            static_cast<unsigned>(sources.size()), sources.size() == 1 ? "" : "s");
    if (sources.empty())
        fprintf(stderr, "zarmite-host: warning: only the host's own metrics are exported\n");
}

std::string MetricsOutput::ProcessGroupFamilies() {
    const GpuProcessRound round = processes_.Take();
    if (!round.offered && !toldNoProcesses_)
        fprintf(stderr, "zarmite-host: the counter library gives no per-process data\n");
    toldNoProcesses_ = true;
    const bool byCgroup =
        groupKey_ == ProcessGroupKey::kUnit || groupKey_ == ProcessGroupKey::kContainer;
    // Each process's cgroup read once a round, off this thread and with a bound.
    std::map<uint32_t, CgroupPlace> places;
    std::map<uint32_t, bool> late;  // whose cgroup file did not answer in time: "unknown"
    if (byCgroup && cgroupReads_ != nullptr) {
        std::vector<uint32_t> pids;
        for (const GpuClient& client : round.clients) pids.push_back(client.pid);
        std::sort(pids.begin(), pids.end());
        pids.erase(std::unique(pids.begin(), pids.end()), pids.end());
        std::vector<std::string> paths;
        for (uint32_t pid : pids) paths.push_back(CgroupPathOf(pid));
        const std::vector<FileText> files = cgroupReads_->ReadAll(paths, kCgroupFileLimit);
        for (size_t p = 0; p < pids.size(); ++p) {
            places[pids[p]] = CgroupPlaceOf(files[p].error == 0 ? files[p].text : "");
            late[pids[p]] = files[p].error == ETIMEDOUT;
        }
    }
    std::vector<std::string> names;
    names.reserve(round.clients.size());
    for (const GpuClient& client : round.clients)
        names.push_back(late[client.pid] ? "unknown"
                                         : ProcessGroupOf(groupKey_, client, places[client.pid]));
    groups_->Take(round.clients, names, SteadyNs());
    return groups_->Families(round.unreadable, round.unattributed, round.scanSeconds, round.unread);
}

void MetricsOutput::Take(const HostRound& round) {
    if (!Active() || exposition_ == nullptr) return;
    std::string text = exposition_->Take(round);
    if (processMetrics_) text += ProcessGroupFamilies();
    if (!textfile_.empty()) {
        const bool written = plat_file_replace(textfile_.c_str(), text);
        if (!written && !textfileFailing_)
            fprintf(stderr, "zarmite-host: %s could not be written; trying again each round\n",
                    textfile_.c_str());
        textfileFailing_ = !written;
        textfileWritten_ = textfileWritten_ || written;
    }
#if defined(ZARMITE_HOST_ENDPOINT)
    if (endpoint_ != nullptr)
        PublishMetrics(endpoint_, text + ProcessFamilies() + EndpointFamilies(endpoint_));
#endif
}

void MetricsOutput::Stop() {
    processes_.Close();  // before the plug-in, which holds the counter library, is unloaded
#if defined(ZARMITE_HOST_ENDPOINT)
    StopMetricsEndpoint(endpoint_);
#endif
    endpoint_ = nullptr;
    // A collector must not report a stopped host's last round as current.
    if (textfileWritten_) plat_file_remove(textfile_.c_str());
    textfileWritten_ = false;
}
