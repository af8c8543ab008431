#include "nvml_processes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "process_identity.h"

namespace {

// No GPU runs more processes than this: a larger count from the driver is not believed.
constexpr unsigned int kMaxProcesses = 4096;

struct Running {
    uint64_t deviceBytes = 0;
    bool compute = false;
    bool graphics = false;
};

// Asks one list of running processes in the driver's newest layout, growing the buffer
// while the driver says it is too small. The count the driver gives is never trusted past
// the buffer.
template <typename Info, typename Query>
bool AskList(Query query, nvmlDevice_t device, std::vector<std::pair<uint32_t, uint64_t>>* out) {
    std::vector<Info> infos(16);
    for (int attempt = 0; attempt < 4; ++attempt) {
        unsigned int count = static_cast<unsigned int>(infos.size());
        const nvmlReturn_t status = query(device, &count, infos.data());
        if (status == NVML_SUCCESS) {
            count = std::min(count, static_cast<unsigned int>(infos.size()));
            for (unsigned int i = 0; i < count; ++i) {
                // No process has the id 0: an entry the driver did not fill.
                if (infos[i].pid == 0) continue;
                const unsigned long long bytes = infos[i].usedGpuMemory;
                out->emplace_back(infos[i].pid, bytes == NVML_VALUE_NOT_AVAILABLE ? 0 : bytes);
            }
            return true;
        }
        if (status != NVML_ERROR_INSUFFICIENT_SIZE || count > kMaxProcesses) return false;
        infos.resize(count + 8);
    }
    return false;
}

void AskRunning(nvmlRunningProcesses_t v3, nvmlRunningProcesses_t v2, nvmlRunningProcesses_v1_t v1,
                nvmlDevice_t device, bool graphics, std::map<uint32_t, Running>* running) {
    std::vector<std::pair<uint32_t, uint64_t>> listed;
    if (v3 != nullptr)
        AskList<nvmlProcessInfo_t>(v3, device, &listed);
    else if (v2 != nullptr)
        AskList<nvmlProcessInfo_t>(v2, device, &listed);
    else if (v1 != nullptr)
        AskList<nvmlProcessInfo_v1_t>(v1, device, &listed);
    for (const auto& process : listed) {
        Running& entry = (*running)[process.first];
        entry.deviceBytes = std::max(entry.deviceBytes, process.second);
        (graphics ? entry.graphics : entry.compute) = true;
    }
}

struct Mean {
    double sm = 0, enc = 0, dec = 0;
    uint32_t samples = 0;
};

// The mean of each process's samples newer than `lastSeen`; moves `lastSeen` on to the
// newest. "No sample" (NOT_FOUND, or none) is no use.
std::map<uint32_t, Mean> AskSamples(const NvmlFunctions& nvml, nvmlDevice_t device,
                                    unsigned long long* lastSeen) {
    std::map<uint32_t, Mean> means;
    if (nvml.nvmlDeviceGetProcessUtilization == nullptr) return means;
    unsigned int count = 0;
    nvmlReturn_t status = nvml.nvmlDeviceGetProcessUtilization(device, nullptr, &count, *lastSeen);
    if ((status != NVML_SUCCESS && status != NVML_ERROR_INSUFFICIENT_SIZE) || count == 0)
        return means;
    std::vector<nvmlProcessUtilizationSample_t> samples(std::min(count, kMaxProcesses) + 8);
    count = static_cast<unsigned int>(samples.size());
    status = nvml.nvmlDeviceGetProcessUtilization(device, samples.data(), &count, *lastSeen);
    if (status != NVML_SUCCESS) return means;
    count = std::min(count, static_cast<unsigned int>(samples.size()));
    const unsigned long long since = *lastSeen;
    for (unsigned int i = 0; i < count; ++i) {
        const nvmlProcessUtilizationSample_t& sample = samples[i];
        if (sample.timeStamp <= since || sample.pid == 0) continue;
        *lastSeen = std::max(*lastSeen, sample.timeStamp);
        Mean& mean = means[sample.pid];
        // A share above the whole is not believed past it.
        mean.sm += std::min(sample.smUtil, 100u);
        mean.enc += std::min(sample.encUtil, 100u);
        mean.dec += std::min(sample.decUtil, 100u);
        ++mean.samples;
    }
    for (auto& entry : means) {
        entry.second.sm /= entry.second.samples;
        entry.second.enc /= entry.second.samples;
        entry.second.dec /= entry.second.samples;
    }
    return means;
}

}  // namespace

bool nvml_partitioned(const NvmlFunctions& nvml, nvmlDevice_t device) {
    unsigned int current = 0, pending = 0;
    return nvml.nvmlDeviceGetMigMode != nullptr &&
           nvml.nvmlDeviceGetMigMode(device, &current, &pending) == NVML_SUCCESS &&
           current == NVML_DEVICE_MIG_ENABLE;
}

std::vector<GpuClient> nvml_read_processes(const NvmlFunctions& nvml, nvmlDevice_t device,
                                           const std::string& root, uint64_t nowNs,
                                           NvmlProcessHistory* history) {
    std::map<uint32_t, Running> running;
    AskRunning(nvml.nvmlDeviceGetComputeRunningProcesses_v3,
               nvml.nvmlDeviceGetComputeRunningProcesses_v2,
               nvml.nvmlDeviceGetComputeRunningProcesses, device, false, &running);
    AskRunning(nvml.nvmlDeviceGetGraphicsRunningProcesses_v3,
               nvml.nvmlDeviceGetGraphicsRunningProcesses_v2,
               nvml.nvmlDeviceGetGraphicsRunningProcesses, device, true, &running);
    history->partitioned = nvml_partitioned(nvml, device);
    std::map<uint32_t, Mean> means;
    if (!history->partitioned) means = AskSamples(nvml, device, &history->lastSeenUs);
    // The samples' time: since the last read; the first read only takes a baseline.
    const double elapsedNs = history->atNs != 0 && nowNs > history->atNs
                                 ? static_cast<double>(nowNs - history->atNs)
                                 : 0;
    for (const auto& sampled : means) running.emplace(sampled.first, Running{});
    std::map<uint32_t, NvmlProcessHistory::Known> known;
    std::vector<GpuClient> clients;
    for (const auto& entry : running) {
        const uint32_t pid = entry.first;
        const ProcessIdentity identity = process_identity(root, pid);
        NvmlProcessHistory::Known now{identity.startTicks, {}};
        const auto before = history->byPid.find(pid);
        if (before != history->byPid.end() && before->second.startTicks == identity.startTicks)
            now = before->second;  // the same process: its time goes on growing
        const auto mean = means.find(pid);
        if (mean != means.end()) {
            // Work on the SM is graphics where the process runs only graphics work.
            const bool graphics = entry.second.graphics && !entry.second.compute;
            now.busyNs[graphics ? kEngineGraphics : kEngineCompute] +=
                static_cast<uint64_t>(mean->second.sm / 100 * elapsedNs);
            now.busyNs[kEngineVideoEncode] +=
                static_cast<uint64_t>(mean->second.enc / 100 * elapsedNs);
            now.busyNs[kEngineVideoDecode] +=
                static_cast<uint64_t>(mean->second.dec / 100 * elapsedNs);
        }
        known[pid] = now;
        GpuClient client;
        memset(&client, 0, sizeof client);
        client.pid = pid;
        // One client a process; a reused pid is another client (pids are below 2^22).
        client.id = identity.startTicks * 4194304ULL + pid;
        std::copy(std::begin(now.busyNs), std::end(now.busyNs), client.busyNs);
        client.deviceBytes = entry.second.deviceBytes;
        snprintf(client.name, sizeof client.name, "%s", identity.name.c_str());
        snprintf(client.user, sizeof client.user, "%s", identity.user.c_str());
        clients.push_back(client);
    }
    history->byPid.swap(known);
    history->atNs = nowNs;
    return clients;
}
