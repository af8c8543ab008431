// The exposition as an output of rounds: built once a round, then served at /metrics
// (Linux build) and written to a textfile for node_exporter or windows_exporter.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bounded_reads.h"
#include "exposition.h"
#include "gpu_processes.h"
#include "host_options.h"
#include "host_round.h"
#include "process_groups.h"

struct MetricsEndpoint;

class MetricsOutput {
public:
    MetricsOutput() = default;
    MetricsOutput(const MetricsOutput&) = delete;
    MetricsOutput& operator=(const MetricsOutput&) = delete;
    ~MetricsOutput() { Stop(); }

    // Reads the web configuration and starts serving, before the plug-in is loaded. False,
    // with one line on standard error, when that cannot be done.
    bool Start(const HostOptions& options);
    bool Active() const { return endpoint_ != nullptr || !textfile_.empty(); }
    // Takes the sources, and says on standard error, in one line, where they go and how
    // many they are (and warns when there are none).
    void SetSources(const std::vector<HostSource>& sources);
    void Take(const HostRound& round);
    void Stop();

private:
    // Who uses the GPU, by group, where --process-metrics asks: the families' text.
    std::string ProcessGroupFamilies();

    std::unique_ptr<Exposition> exposition_;
    bool processMetrics_ = false;
    ProcessGroupKey groupKey_ = ProcessGroupKey::kName;
    GpuProcessReader processes_;
    std::unique_ptr<ProcessGroups> groups_;
    std::unique_ptr<BoundedReads> cgroupReads_;  // processes' cgroup files, a hung one skipped
    bool toldNoProcesses_ = false;
    MetricsEndpoint* endpoint_ = nullptr;
    std::string textfile_;
    std::string url_;               // where the endpoint serves, when it does
    bool textfileFailing_ = false;  // said once, until it works again
    bool textfileWritten_ = false;  // removed when the host stops
};
