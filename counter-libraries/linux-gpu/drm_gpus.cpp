#include "drm_gpus.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "amd_ras.h"
#include "drm_files.h"
#include "drm_readings.h"
#include "pci_ids.h"

namespace {

bool IsCardName(const std::string& name, const char* prefix) {
    const size_t length = strlen(prefix);
    if (name.compare(0, length, prefix) != 0 || name.size() == length) return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(length), name.end(),
                       [](char c) { return isdigit(static_cast<unsigned char>(c)) != 0; });
}

std::string IfExists(const std::string& path) {
    return drm_exists(path) ? path : "";
}

uint32_t HexFile(const std::string& path) {
    return static_cast<uint32_t>(strtoul(drm_read_line(path).c_str(), nullptr, 16));
}

// The model's name from the root's PCI ID list.
std::string Model(const std::string& root, const std::string& device) {
    return pci_model_name(root + "/usr/share/misc/pci.ids", HexFile(device + "/vendor"),
                          HexFile(device + "/device"));
}

std::string DriverOf(const std::string& device) {
    std::string driver = drm_link_name(device + "/driver");
    if (!driver.empty()) return drm_printable(driver, 40);
    std::string uevent;
    drm_read_file(device + "/uevent", 4096, &uevent);
    const size_t at = uevent.find("DRIVER=");
    if (at == std::string::npos) return "unknown";
    return drm_printable(uevent.substr(at + 7, uevent.find('\n', at) - at - 7), 40);
}

// The first hwmon folder of the device.
std::string HwmonOf(const std::string& device) {
    for (const std::string& name : drm_list(device + "/hwmon"))
        if (name.compare(0, 5, "hwmon") == 0) return device + "/hwmon/" + name;
    return "";
}

// Whether a hwmon file of the device is labelled so: amdgpu labels an integrated GPU's
// northbridge voltage "vddnb".
bool HasLabel(const std::string& hwmon, const std::string& label) {
    if (hwmon.empty()) return false;
    for (const std::string& name : drm_list(hwmon)) {
        if (name.size() < 6 || name.compare(name.size() - 6, 6, "_label") != 0) continue;
        if (drm_read_line(hwmon + "/" + name) == label) return true;
    }
    return false;
}

// xe's frequencies: the first GT's freq0 folder of the first tile.
std::string XeFrequencies(const std::string& device) {
    for (const std::string& tile : drm_list(device)) {
        if (!IsCardName(tile, "tile")) continue;
        for (const std::string& gt : drm_list(device + "/" + tile))
            if (IsCardName(gt, "gt") && drm_exists(device + "/" + tile + "/" + gt + "/freq0"))
                return device + "/" + tile + "/" + gt + "/freq0";
    }
    return "";
}

// hwmon's temperature `n` where its label, if it has one, is `label`.
std::string LabelledTemperature(const std::string& hwmon, int n, const char* label) {
    const std::string base = hwmon + "/temp" + std::to_string(n);
    if (drm_exists(base + "_label") && drm_read_line(base + "_label") != label) return "";
    return IfExists(base + "_input");
}

// What the GPU says of itself and its health: amdgpu's table (read now only where the GPU
// is awake), its junction and memory temperatures and error counts; Intel's throttle
// reasons and idle residency; the energy counter of either.
void FindDeepSources(const std::string& device, const std::string& card, const std::string& hwmon,
                     DrmSources* s) {
    s->gpuMetrics = IfExists(device + "/gpu_metrics");
    if (!s->gpuMetrics.empty() && !drm_asleep(*s)) {
        std::string bytes;
        if (drm_read_file(s->gpuMetrics, kGpuMetricsLimit, &bytes) == 0)
            s->metricsReadAtFind = gpu_metrics_parse(bytes, &s->metricsAtFind);
    }
    if (!hwmon.empty() && !s->temperature.empty() && s->temperature == hwmon + "/temp1_input") {
        s->hotspotC = LabelledTemperature(hwmon, 2, "junction");
        s->memoryC = LabelledTemperature(hwmon, 3, "mem");
    }
    if (!hwmon.empty()) s->energyTotal = IfExists(hwmon + "/energy1_input");
    s->rasFiles = amd_ras_files(device);
    s->limitFiles = intel_limit_files(device, card);
    s->idleFiles = intel_idle_files(device, card);
}

// The files of the GPU whose PCI device folder is `device`, its card's folder `card`
// beneath it.
DrmSources FindSources(const std::string& device, const std::string& card,
                       const std::string& driver) {
    const std::string hwmon = HwmonOf(device);
    DrmSources s;
    s.runtimeStatus = IfExists(device + "/power/runtime_status");
    s.busyPercent = IfExists(device + "/gpu_busy_percent");
    s.memoryBusyPercent = IfExists(device + "/mem_busy_percent");
    s.busyFromClients = s.busyPercent.empty();
    s.videoFromClients = true;
    s.clientsWakeGpu = driver == "xe";
    s.graphicsLevels = IfExists(device + "/pp_dpm_sclk");
    s.memoryLevels = IfExists(device + "/pp_dpm_mclk");
    s.graphicsMhz = IfExists(card + "/gt_act_freq_mhz");
    const std::string xe = XeFrequencies(device);
    if (!xe.empty()) {
        s.graphicsMhz = IfExists(xe + "/act_freq");
        s.graphicsMhzIdle = IfExists(xe + "/cur_freq");
    }
    s.vramUsed = IfExists(device + "/mem_info_vram_used");
    s.vramTotal = IfExists(device + "/mem_info_vram_total");
    s.gttUsed = IfExists(device + "/mem_info_gtt_used");
    s.gttTotal = IfExists(device + "/mem_info_gtt_total");
    if (!hwmon.empty()) {
        s.graphicsHz = IfExists(hwmon + "/freq1_input");
        s.memoryHz = IfExists(hwmon + "/freq2_input");
        for (const char* name : {"temp1_input", "temp2_input", "temp3_input"})
            if (s.temperature.empty()) s.temperature = IfExists(hwmon + "/" + name);
        s.powerMicrowatts = IfExists(hwmon + "/power1_average");
        if (s.powerMicrowatts.empty()) s.powerMicrowatts = IfExists(hwmon + "/power1_input");
        if (s.powerMicrowatts.empty()) s.energyMicrojoules = IfExists(hwmon + "/energy1_input");
        s.fanRpm = IfExists(hwmon + "/fan1_input");
        s.fanMaxRpm = IfExists(hwmon + "/fan1_max");
        if (s.fanRpm.empty() || s.fanMaxRpm.empty()) s.fanRpm = s.fanMaxRpm = "";
        s.fanPwm = IfExists(hwmon + "/pwm1");
    }
    // The other sign, a small VRAM, is read with the memory: reading it here would wake a
    // sleeping GPU.
    s.integrated = HasLabel(hwmon, "vddnb");
    FindDeepSources(device, card, hwmon, &s);
    return s;
}

// Whether `text` is a PCI address: "0000:03:00.0".
bool IsPciAddress(const std::string& text) {
    if (text.size() != 12 || text[4] != ':' || text[7] != ':' || text[10] != '.') return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (i != 4 && i != 7 && i != 10 && !isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    return true;
}

// A GPU to read, before any of its files is opened.
struct Candidate {
    std::string address;
    std::string device;  // resolved
    std::string card;    // its card's name; "" for an NVIDIA GPU found on the PCI bus
};

DrmGpu Probe(const std::string& root, const Candidate& candidate) {
    DrmGpu gpu;
    gpu.device = candidate.device;
    gpu.found.address = candidate.address;
    gpu.found.driver = candidate.card.empty() ? "nvidia" : DriverOf(candidate.device);
    gpu.found.model = Model(root, candidate.device);
    if (gpu.found.driver != "nvidia")
        gpu.sources = FindSources(candidate.device, candidate.device + "/drm/" + candidate.card,
                                  gpu.found.driver);
    return gpu;
}

// The probes of one find, shared with their threads: those that outlast the wait leave
// their result here for no one.
struct Probes {
    std::mutex lock;
    std::condition_variable ended;
    std::vector<DrmGpu> gpus;
    std::vector<bool> done;
    size_t left = 0;
};

std::vector<DrmGpu> ProbeAll(const std::string& root, const std::vector<Candidate>& candidates,
                             uint32_t waitMs) {
    const auto probes = std::make_shared<Probes>();
    probes->gpus.resize(candidates.size());
    probes->done.assign(candidates.size(), false);
    for (size_t i = 0; i < candidates.size(); ++i) {
        {
            std::lock_guard<std::mutex> guard(probes->lock);
            ++probes->left;
        }
        try {
            std::thread([probes, root, candidate = candidates[i], i] {
                try {
                    DrmGpu gpu = Probe(root, candidate);
                    std::lock_guard<std::mutex> guard(probes->lock);
                    probes->gpus[i] = std::move(gpu);
                    probes->done[i] = true;
                } catch (...) {
                    // memory ran out: this GPU is left out
                }
                std::lock_guard<std::mutex> guard(probes->lock);
                --probes->left;
                probes->ended.notify_all();
            }).detach();
        } catch (...) {
            // no thread to be had: this GPU is left out rather than read without a bound
            std::lock_guard<std::mutex> guard(probes->lock);
            --probes->left;
        }
    }
    std::unique_lock<std::mutex> guard(probes->lock);
    probes->ended.wait_for(guard, std::chrono::milliseconds(waitMs),
                           [&] { return probes->left == 0; });
    std::vector<DrmGpu> gpus;
    for (size_t i = 0; i < candidates.size(); ++i)
        if (probes->done[i]) gpus.push_back(std::move(probes->gpus[i]));
    return gpus;
}

}  // namespace

DrmCardList drm_card_list(const std::string& root) {
    const std::string drm = root + "/sys/class/drm/";
    DrmCardList cards;
    for (const std::string& name : drm_list(drm)) {
        char target[512];
        const ssize_t length = readlink((drm + name).c_str(), target, sizeof target);
        cards.emplace_back(name,
                           length > 0 ? std::string(target, static_cast<size_t>(length)) : "");
    }
    return cards;
}

std::vector<DrmGpu> drm_find_gpus(const std::string& root, uint32_t waitMs) {
    const std::string drm = root + "/sys/class/drm";
    std::map<std::string, Candidate> byAddress;  // ordered by PCI address
    std::map<std::string, std::vector<std::string>> nodesOf;
    for (const std::string& name : drm_list(drm)) {
        const bool card = IsCardName(name, "card");
        if (!card && !IsCardName(name, "renderD")) continue;
        std::string address = drm_link_name(drm + "/" + name + "/device");
        for (char& c : address) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        if (!IsPciAddress(address)) continue;  // a firmware framebuffer, or no device
        nodesOf[address].push_back(name);
        const std::string device = drm_real_path(drm + "/" + name + "/device");
        if (!card || byAddress.count(address) != 0 || device.empty() ||
            !drm_exists(device + "/vendor"))
            continue;
        byAddress[address] = Candidate{address, device, name};
    }
    // NVIDIA's driver lists a card only while its modesetting module is loaded, which
    // servers often go without: its GPUs are found on the PCI bus as well.
    const std::string nvidia = root + "/sys/bus/pci/drivers/nvidia/";
    for (const std::string& address : drm_list(nvidia)) {
        if (!IsPciAddress(address) || byAddress.count(address) != 0) continue;
        const std::string device = drm_real_path(nvidia + address);
        if (!device.empty()) byAddress[address] = Candidate{address, device, ""};
    }
    std::vector<Candidate> candidates;
    for (const auto& entry : byAddress) candidates.push_back(entry.second);
    std::vector<DrmGpu> gpus = ProbeAll(root, candidates, waitMs);
    for (DrmGpu& gpu : gpus) gpu.nodes = nodesOf[gpu.found.address];
    return gpus;
}
