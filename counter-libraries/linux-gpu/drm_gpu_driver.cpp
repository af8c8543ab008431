#include "drm_gpu_driver.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "busy_time.h"
#include "drm_clients.h"
#include "drm_files.h"
#include "drm_health.h"
#include "drm_readings.h"
#include "engine_usage.h"
#include "metrics.h"
#include "process_identity.h"

namespace {

// A step of the walk over /proc for clients at most every three seconds: new processes,
// and a tenth of the others (drm_clients.h), so that every process is read within 30 s.
constexpr uint64_t kClientWalkNs = 3000000000ULL;
constexpr uint32_t kWalkSlices = 10;
// A first look at the engines waits this long for a second one.
constexpr uint32_t kEngineBaselineMs = 100;
// A GPU whose files take longer than this to tell what it is counts as hung: it is left
// out of a find, and the others are read.
constexpr uint32_t kFindWaitMs = 500;
// How often /sys/class/drm is looked at for GPUs that went or came.
constexpr uint64_t kCardCheckNs = 1000000000ULL;
// A client's file (fdinfo, comm) whose read takes longer than this is not read in time:
// it is passed over, and the GPU says so. At most this many reads may be left stuck.
constexpr uint32_t kClientReadWaitMs = 250;
constexpr uint32_t kMaxStuckReads = 8;
// A look at a GPU's clients in progress this long has not ended in time.
constexpr uint64_t kLookLateNs = 5000000000ULL;

// The sysfs readings (busy, memory busy) and the clients' engine time (encoder, decoder)
// are read apart, so that a slow pass over many clients never makes the files late. A GPU
// whose busy comes from its clients too reads all four in one pass.
enum Unit : uint32_t {
    kUnitActivity,
    kUnitVideo,
    kUnitClocks,
    kUnitTemperature,
    kUnitPower,
    kUnitFan,
    kUnitMemory,
    kUnitPcie,
    kUnitHealth,  // what the GPU says of itself: one gpu_metrics read and a few small files
    // Metrics that only NVIDIA's driver measures: never read here.
    kUnitSm,
    kUnitLinks,
    kUnitEvents,
    kUnits
};

// The engine classes that encode and decode video: amdgpu's enc and dec; Intel's video
// engines do both (i915 video, xe vcs).
const std::vector<std::string> kEncoders = {"enc", "video", "vcs"};
const std::vector<std::string> kDecoders = {"dec", "video", "vcs"};

struct GpuState {
    // Its files as the last find saw them, shared with the reads, which never change
    // them; null where the GPU is not this driver's, or has gone.
    std::shared_ptr<const DrmGpu> gpu;
    // As the start found it: what the counters mean and how they are read stays so.
    std::shared_ptr<const DrmGpu> described;
    EngineHistory engines;
    EnergyHistory energy;
    DrmHealthMemory health;
    std::vector<GpuClient> users;  // who used it at the last look, their GPU not yet numbered
    uint64_t usersAtNs = 0;
    BusyTime busy;        // its own busy figure, for the busy that no client accounts for
    uint64_t scanNs = 0;  // what the last look at its clients took, the walk's step included
    std::vector<uint32_t> denied;  // processes whose fdinfo this user may not read
    uint32_t late = 0;             // files of its clients not read in time, at the last look
    uint32_t leftOut = 0;          // descriptors on it that the caps left unread
    uint64_t lookSinceNs = 0;      // when the look in progress began; 0 for none
};

// Never destroyed: a read may still be in the kernel when the process ends.
struct Drm {
    std::mutex lock;  // never held across a file's read
    std::vector<DrmGpu> found;
    std::vector<GpuState> gpus;  // by found GPU
    DrmWalk walk;
    uint64_t nextWalkNs = 0;
    bool walking = false;
    DrmCardList cards;  // /sys/class/drm as the last find saw it
    uint64_t nextCardCheckNs = 0;
    bool checkingCards = false;
    std::string root;
    bool seesEveryClient = false;  // as the start found it
    // Every read of a client's files: a file that hangs costs only itself.
    BoundedReads* reads = new BoundedReads(drm_read_file, kClientReadWaitMs, kMaxStuckReads);
};

Drm& State() {
    static Drm* drm = new Drm;
    return *drm;
}

// Whether this process may read every user's fdinfo: root, or the right to trace others.
bool SeesEveryClient() {
    if (geteuid() == 0) return true;
    std::string status;
    if (drm_read_file("/proc/self/status", 8192, &status) != 0) return false;
    const size_t at = status.find("CapEff:");
    if (at == std::string::npos) return false;
    const unsigned long long effective = strtoull(status.c_str() + at + 7, nullptr, 16);
    return (effective >> 19) & 1;  // CAP_SYS_PTRACE
}

// Finds the GPUs again when /sys/class/drm changed: a GPU that went is read no more, one
// that came back at its PCI address is read through its new card, and a GPU that took a
// card number another one had is never read as that one. Looks at most once a second, on
// one worker at a time.
void FollowCards() {
    Drm& drm = State();
    const uint64_t now = drm_now_ns();
    std::unique_lock<std::mutex> guard(drm.lock);
    if (drm.checkingCards || now < drm.nextCardCheckNs) return;
    drm.checkingCards = true;
    const std::string root = drm.root;
    const DrmCardList last = drm.cards;
    guard.unlock();
    const DrmCardList cards = drm_card_list(root);
    std::vector<DrmGpu> found;
    if (cards != last) found = drm_find_gpus(root, kFindWaitMs);
    guard.lock();
    drm.checkingCards = false;
    drm.nextCardCheckNs = drm_now_ns() + kCardCheckNs;
    if (cards == last) return;
    drm.cards = cards;
    for (GpuState& state : drm.gpus) {
        if (state.described == nullptr) continue;  // not this driver's
        std::shared_ptr<const DrmGpu> again;
        for (const DrmGpu& gpu : found)
            if (gpu.found.address == state.described->found.address &&
                gpu.found.driver == state.described->found.driver)
                again = std::make_shared<const DrmGpu>(gpu);
        if (again != nullptr && state.gpu != nullptr && again->device == state.gpu->device &&
            again->nodes == state.gpu->nodes)
            continue;  // this one did not change
        state.gpu = again;
        state.engines = EngineHistory{};
        state.energy = EnergyHistory{};
        state.health.idle = IdleHistory{};  // its counts go on: a new start counts as growth
    }
}

// The descriptors of a GPU's clients that are still open: walks /proc when a walk is due
// and no other worker is walking; otherwise the last walk's. `leftOut`: how many
// descriptors on the nodes the caps left out.
std::vector<DrmDescriptor> ClientDescriptors(const std::vector<std::string>& nodes,
                                             size_t* leftOut) {
    Drm& drm = State();
    const uint64_t now = drm_now_ns();
    std::unique_lock<std::mutex> guard(drm.lock);
    if (!drm.walking && now >= drm.nextWalkNs) {
        drm.walking = true;
        const std::string root = drm.root;
        DrmWalk walk = drm.walk;
        guard.unlock();
        drm_walk_step(root, kWalkSlices, &walk);
        guard.lock();
        drm.walk = std::move(walk);
        drm.nextWalkNs = drm_now_ns() + kClientWalkNs;
        drm.walking = false;
    }
    const std::vector<DrmDescriptor> descriptors =
        drm_descriptors_on(drm.walk.known, nodes, leftOut);
    for (const auto& process : drm.walk.beyondCap)
        for (const auto& node : process.second)
            if (std::find(nodes.begin(), nodes.end(), node.first) != nodes.end())
                *leftOut += node.second;
    guard.unlock();
    return drm_still_open(descriptors);
}

// Who used the GPU at a look: a record for each process of each client.
// Who the processes are, their files read with a bound: `late` counts those not read in
// time.
std::map<uint32_t, ProcessIdentity> Identities(const std::vector<uint32_t>& pids,
                                               const std::string& root, BoundedReads* reads,
                                               uint32_t* late) {
    std::vector<std::string> paths;
    for (uint32_t pid : pids)
        for (const std::string& path : process_identity_paths(root, pid)) paths.push_back(path);
    const std::vector<FileText> texts = reads->ReadAll(paths, kProcessIdentityLimit);
    std::map<uint32_t, ProcessIdentity> identities;
    for (size_t p = 0; p < pids.size(); ++p) {
        identities[pids[p]] = process_identity_from(root, &texts[3 * p]);
        for (size_t f = 3 * p; f < 3 * p + 3; ++f) *late += texts[f].error == ETIMEDOUT ? 1 : 0;
    }
    return identities;
}

// The processes of a client, each once.
std::vector<uint32_t> ProcessesOf(const EngineClient& client,
                                  const std::vector<DrmDescriptor>& descriptors) {
    std::vector<uint32_t> pids;
    for (size_t path : client.paths)
        if (path < descriptors.size()) pids.push_back(descriptors[path].pid);
    std::sort(pids.begin(), pids.end());
    pids.erase(std::unique(pids.begin(), pids.end()), pids.end());
    return pids;
}

std::vector<GpuClient> Users(const EngineShares& shares,
                             const std::vector<DrmDescriptor>& descriptors, const std::string& root,
                             BoundedReads* reads, uint32_t* late) {
    std::vector<uint32_t> all;
    for (const EngineClient& client : shares.byClient) {
        const std::vector<uint32_t> pids = ProcessesOf(client, descriptors);
        all.insert(all.end(), pids.begin(), pids.end());
    }
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    const std::map<uint32_t, ProcessIdentity> identities = Identities(all, root, reads, late);
    std::vector<GpuClient> users;
    for (const EngineClient& client : shares.byClient) {
        const std::vector<uint32_t> pids = ProcessesOf(client, descriptors);
        char* end = nullptr;
        const uint64_t number = strtoull(client.id.c_str(), &end, 10);
        const uint64_t id =
            !client.id.empty() && *end == '\0'
                ? number
                : std::hash<std::string>()(client.id + "/" + std::to_string(client.paths.front()));
        for (uint32_t pid : pids) {
            GpuClient user;
            memset(&user, 0, sizeof user);
            user.pid = pid;
            user.id = id;
            std::copy(std::begin(client.busyNs), std::end(client.busyNs), user.busyNs);
            user.deviceBytes = client.deviceBytes;
            user.systemBytes = client.systemBytes;
            user.flags = pids.size() > 1 ? kGpuClientShared : 0;
            const ProcessIdentity& identity = identities.at(pid);
            // The program's own name for the client, where it gave one, after its process's.
            std::string name = identity.name;
            if (!client.name.empty()) name += " (" + drm_printable(client.name, 40) + ")";
            snprintf(user.name, sizeof user.name, "%s", name.c_str());
            snprintf(user.user, sizeof user.user, "%s", identity.user.c_str());
            users.push_back(user);
        }
    }
    return users;
}

// What a read needs; null where the GPU is not this driver's, or has gone.
std::shared_ptr<const DrmGpu> GpuOf(uint32_t gpu) {
    Drm& drm = State();
    std::lock_guard<std::mutex> guard(drm.lock);
    return gpu < drm.gpus.size() ? drm.gpus[gpu].gpu : nullptr;
}

std::shared_ptr<const DrmGpu> DescribedGpu(uint32_t gpu) {
    Drm& drm = State();
    std::lock_guard<std::mutex> guard(drm.lock);
    return gpu < drm.gpus.size() ? drm.gpus[gpu].described : nullptr;
}

// Busy and memory busy from their files. A sleeping GPU is idle.
void ReadBusyFiles(const DrmSources& s, CounterReading* out) {
    const CounterReading unavailable{kReadingNotAvailable, 0, 0};
    const bool asleep = drm_asleep(s);
    if (!s.busyFromClients) out[kBusy] = asleep ? drm_share(0) : drm_read_percent(s.busyPercent);
    if (s.memoryBusyPercent.empty())
        out[kMemoryBusy] = unavailable;
    else
        out[kMemoryBusy] = asleep ? drm_share(0) : drm_read_percent(s.memoryBusyPercent);
}

// From the clients' engine time: busy (where `busy` is not null), encoder and decoder
// busy. A sleeping GPU is idle, and no client's file, which might wake it, is read.
void ReadClients(Sampler* sampler, uint32_t index, const DrmGpu& gpu, CounterReading* busy,
                 CounterReading* video) {
    if (drm_asleep(gpu.sources)) {
        if (busy != nullptr) *busy = drm_share(0);
        video[0] = video[1] = drm_share(0);
        return;
    }
    Drm& drm = State();
    EngineHistory history;
    std::string root;
    BoundedReads* reads = nullptr;
    const uint64_t startNs = drm_now_ns();
    {
        std::lock_guard<std::mutex> guard(drm.lock);
        if (index < drm.gpus.size()) {
            history = drm.gpus[index].engines;
            drm.gpus[index].lookSinceNs = startNs;
        }
        root = drm.root;
        reads = drm.reads;
    }
    EngineShares shares;
    std::vector<DrmDescriptor> descriptors;
    size_t leftOut = 0;
    uint64_t atNs = 0;
    for (int look = 0; look < 2; ++look) {
        descriptors = ClientDescriptors(gpu.nodes, &leftOut);
        std::vector<std::string> paths;
        for (const DrmDescriptor& descriptor : descriptors) paths.push_back(descriptor.fdinfo);
        const std::vector<FileText> texts = reads->ReadAll(paths, kFdinfoLimit);
        atNs = drm_now_ns();
        shares = engine_shares_of(paths, texts, &history, atNs, gpu.found.address);
        if (shares.measured || (look == 0 && !sampler_sleep(sampler, kEngineBaselineMs))) break;
    }
    uint32_t late = static_cast<uint32_t>(shares.late.size());
    std::vector<GpuClient> users = Users(shares, descriptors, root, reads, &late);
    // Processes whose fdinfo this user may not read count among those whose clients could
    // not be read, beside those whose descriptors it may not even see.
    std::vector<uint32_t> denied;
    for (size_t path : shares.denied)
        if (path < descriptors.size()) denied.push_back(descriptors[path].pid);
    std::sort(denied.begin(), denied.end());
    denied.erase(std::unique(denied.begin(), denied.end()), denied.end());
    {
        std::lock_guard<std::mutex> guard(drm.lock);
        if (index < drm.gpus.size()) {
            GpuState& state = drm.gpus[index];
            state.engines = std::move(history);
            state.users.swap(users);
            state.usersAtNs = atNs;
            state.scanNs = drm_now_ns() - startNs;
            state.denied.swap(denied);
            state.late = late;
            state.leftOut = static_cast<uint32_t>(std::min<size_t>(leftOut, UINT32_MAX));
            state.lookSinceNs = 0;
        }
    }
    const CounterReading noLook{kReadingNoData, 0, 0};
    if (busy != nullptr) *busy = shares.measured ? drm_share(engine_share_of(shares, {})) : noLook;
    video[0] = shares.measured ? drm_share(engine_share_of(shares, kEncoders)) : noLook;
    video[1] = shares.measured ? drm_share(engine_share_of(shares, kDecoders)) : noLook;
}

bool Offered(const DrmSources& s, uint32_t metric);
CounterUnit UnitMetrics(uint32_t gpu, uint32_t unit);

// Keeps the GPU's busy reading as engine time, for the clients' entry.
void NoteBusy(uint32_t index, const CounterReading& busy) {
    const uint64_t now = drm_now_ns();
    const bool ok = busy.status == 0 && busy.cycle > 0;
    Drm& drm = State();
    std::lock_guard<std::mutex> guard(drm.lock);
    if (index < drm.gpus.size())
        busy_time_add(&drm.gpus[index].busy, ok,
                      ok ? static_cast<double>(busy.value) / static_cast<double>(busy.cycle) : 0,
                      now);
}

void Read(Sampler* sampler, uint32_t index, uint32_t unit, CounterReading* out) {
    const CounterUnit metrics = UnitMetrics(index, unit);
    for (uint32_t i = 0; i < metrics.count; ++i)
        out[i] = CounterReading{kReadingNotAvailable, 0, 0};
    const std::shared_ptr<const DrmGpu> described = DescribedGpu(index);
    if (described == nullptr || unit == kUnitPcie || unit == kUnitSm || unit == kUnitLinks ||
        unit == kUnitEvents)
        return;
    FollowCards();
    const std::shared_ptr<const DrmGpu> found = GpuOf(index);
    if (found == nullptr) {  // gone from the machine
        for (uint32_t i = 0; i < metrics.count; ++i)
            if (Offered(described->sources, metrics.first + i))
                out[i] = CounterReading{kReadingGpuLost, 0, 0};
        return;
    }
    const DrmGpu& gpu = *found;
    if (unit != kUnitActivity && unit != kUnitVideo && drm_asleep(gpu.sources)) {
        for (uint32_t i = 0; i < metrics.count; ++i)
            if (Offered(gpu.sources, metrics.first + i))
                out[i] = CounterReading{kReadingAsleep, 0, 0};
        return;
    }
    switch (unit) {
        case kUnitActivity:
            ReadBusyFiles(gpu.sources, out);
            if (metrics.count > 2)
                ReadClients(sampler, index, gpu, &out[kBusy], &out[kEncoderBusy]);
            return NoteBusy(index, out[kBusy]);
        case kUnitVideo:
            return ReadClients(sampler, index, gpu, nullptr, out);
        case kUnitClocks:
            return drm_read_clocks(gpu.sources, out);
        case kUnitTemperature:
            out[0] = drm_read_temperature(gpu.sources);
            return;
        case kUnitPower: {
            Drm& drm = State();
            EnergyHistory energy;
            {
                std::lock_guard<std::mutex> guard(drm.lock);
                if (index < drm.gpus.size()) energy = drm.gpus[index].energy;
            }
            out[0] = drm_read_power(gpu.sources, &energy, sampler);
            std::lock_guard<std::mutex> guard(drm.lock);
            if (index < drm.gpus.size()) drm.gpus[index].energy = energy;
            return;
        }
        case kUnitFan:
            out[0] = drm_read_fan(gpu.sources);
            return;
        case kUnitMemory:
            return drm_read_memory(gpu.sources, out);
        case kUnitHealth: {
            Drm& drm = State();
            DrmHealthMemory memory;
            {
                std::lock_guard<std::mutex> guard(drm.lock);
                if (index < drm.gpus.size()) memory = drm.gpus[index].health;
            }
            drm_read_health(gpu.sources, &memory, sampler, out);
            std::lock_guard<std::mutex> guard(drm.lock);
            if (index < drm.gpus.size()) drm.gpus[index].health = memory;
            return;
        }
        default:
            return;
    }
}

CounterUnit UnitMetrics(uint32_t gpu, uint32_t unit) {
    static const CounterUnit kRanges[kUnits] = {{kBusy, 2},
                                                {kEncoderBusy, 2},
                                                {kGraphicsClock, 4},
                                                {kTemperature, 1},
                                                {kPower, 1},
                                                {kFanSpeed, 1},
                                                {kMemoryUsed, 3},
                                                {kPcieRx, 2},
                                                {kHealthFirstMetric, kHealthMetrics},
                                                {kSmActive, kDramActive - kSmActive},
                                                {kNvlinkRx, 2},
                                                {kXidErrors, kAllMetricsPerGpu - kXidErrors}};
    const std::shared_ptr<const DrmGpu> described = DescribedGpu(gpu);
    if (described != nullptr && described->sources.busyFromClients) {
        if (unit % kUnits == kUnitActivity) return CounterUnit{kBusy, 4};
        if (unit % kUnits == kUnitVideo) return CounterUnit{kEncoderBusy, 0};
    }
    return kRanges[unit % kUnits];
}

// Whether a metric has a file to read on this GPU.
bool Offered(const DrmSources& s, uint32_t metric) {
    switch (metric) {
        case kBusy:
        case kEncoderBusy:
        case kDecoderBusy:
            return true;
        case kMemoryBusy:
            return !s.memoryBusyPercent.empty();
        case kGraphicsClock:
            return !s.graphicsLevels.empty() || !s.graphicsHz.empty() || !s.graphicsMhz.empty();
        case kMemoryClock:
            return !s.memoryLevels.empty() || !s.memoryHz.empty();
        case kTemperature:
            return !s.temperature.empty();
        case kPower:
            return !s.powerMicrowatts.empty() || !s.energyMicrojoules.empty();
        case kFanSpeed:
            return !s.fanRpm.empty() || !s.fanPwm.empty();
        case kMemoryUsed:
        case kMemoryFree:
        case kMemoryTotal:
            return !s.vramUsed.empty() && !s.vramTotal.empty();
        default:
            return metric >= kMetricsPerGpu && drm_health_why_not(s, metric).empty();
    }
}

std::string Meaning(uint32_t index, uint32_t metric) {
    const std::string meaning = metric_info(metric).meaning;
    const std::shared_ptr<const DrmGpu> gpu = DescribedGpu(index);
    if (gpu != nullptr && metric >= kMetricsPerGpu && !Offered(gpu->sources, metric))
        return meaning + ": not available on this GPU (" +
               drm_health_why_not(gpu->sources, metric) + ")";
    if (gpu == nullptr || !Offered(gpu->sources, metric))
        return meaning + ": not available on this GPU";
    bool seesEveryClient = false;
    uint32_t capped = 0;
    {
        std::lock_guard<std::mutex> guard(State().lock);
        seesEveryClient = State().seesEveryClient;
        capped = State().walk.cappedProcess;
    }
    const bool fromClients = metric == kEncoderBusy || metric == kDecoderBusy ||
                             (metric == kBusy && gpu->sources.busyFromClients);
    if (fromClients)
        return meaning +
               (seesEveryClient ? ", from clients' engine time" : ", this user's clients only") +
               (capped == 0 ? ""
                            : "; only " + std::to_string(kMaxDescriptorsPerProcess) +
                                  " descriptors of process " + std::to_string(capped) + " read");
    if (metric >= kMemoryUsed && metric <= kMemoryTotal && gpu->sources.integrated)
        return meaning + ", VRAM and GTT";
    return meaning;
}

void Start(std::vector<FoundGpu>* found, std::vector<bool>* owned) {
    Drm& drm = State();
    const bool seesEveryClient = SeesEveryClient();
    const std::string root = drm_root();
    std::unique_lock<std::mutex> guard(drm.lock);
    drm.root = root;
    drm.seesEveryClient = seesEveryClient;
    drm.gpus.assign(found->size(), GpuState{});
    bool any = false;
    for (size_t f = 0; f < found->size() && f < drm.found.size(); ++f) {
        if (drm.found[f].found.driver == "nvidia") continue;  // read through NVML
        drm.gpus[f].gpu = std::make_shared<const DrmGpu>(drm.found[f]);
        drm.gpus[f].described = drm.gpus[f].gpu;
        (*owned)[f] = any = true;
    }
    drm.nextCardCheckNs = drm_now_ns() + kCardCheckNs;
    guard.unlock();
    // The first walk, over every process, before the counters are described: a process
    // that holds more descriptors than are read is named in their descriptions.
    DrmWalk walk;
    if (any) drm_walk_step(root, kWalkSlices, &walk);
    guard.lock();
    drm.walk = std::move(walk);
    drm.nextWalkNs = any ? drm_now_ns() + kClientWalkNs : 0;
}

void Stop() {
    Drm& drm = State();
    std::lock_guard<std::mutex> guard(drm.lock);
    drm.gpus.clear();
}

// Who used GPU `index` at its last look. A look that has run too long says that its
// clients were not read in time.
uint64_t Clients(uint32_t index, std::vector<GpuClient>* out, std::vector<uint32_t>* unreadable,
                 GpuDevice* device) {
    Drm& drm = State();
    const uint64_t now = drm_now_ns();
    std::lock_guard<std::mutex> guard(drm.lock);
    unreadable->insert(unreadable->end(), drm.walk.refused.begin(), drm.walk.refused.end());
    if (index >= drm.gpus.size()) return 0;
    const GpuState& state = drm.gpus[index];
    unreadable->insert(unreadable->end(), state.denied.begin(), state.denied.end());
    out->insert(out->end(), state.users.begin(), state.users.end());
    *device = busy_time_device(state.busy, device->gpu, state.scanNs);
    device->lateClients = state.late;
    if (state.lookSinceNs != 0 && now - std::min(now, state.lookSinceNs) > kLookLateNs)
        device->lateClients = std::max<uint32_t>(device->lateClients, 1);
    device->leftOut = state.leftOut;
    return state.usersAtNs;
}

}  // namespace

int32_t drm_find(std::vector<FoundGpu>* gpus) {
    const std::string root = drm_root();
    // Listed before the find, so that a GPU that goes or comes during it is followed.
    DrmCardList cards = drm_card_list(root);
    std::vector<DrmGpu> found = drm_find_gpus(root, kFindWaitMs);
    for (const DrmGpu& gpu : found) gpus->push_back(gpu.found);
    Drm& drm = State();
    std::lock_guard<std::mutex> guard(drm.lock);
    drm.found.swap(found);
    drm.cards.swap(cards);
    return 0;
}

// Its clients are read with the encoder's busy, or with the busy where that comes from them.
const GpuDriver kDrmGpuDriver = {Start, Stop,    kUnits,  UnitMetrics,
                                 Read,  Meaning, Clients, kEncoderBusy};
