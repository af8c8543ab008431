// The GPUs the kernel lists under /sys/class/drm, and which of their files feed which
// metric. A card is a GPU when a PCI device is behind it: connector folders (card0-DP-1),
// render nodes, ttm and version are not cards, and a firmware framebuffer (simpledrm,
// efifb) has no PCI device. NVIDIA's GPUs are found on the PCI bus too, where its driver
// lists no card. GPUs are ordered by PCI address, which, unlike the card
// number, stays the same from boot to boot.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gpu_drivers.h"
#include "gpu_metrics_table.h"
#include "intel_limits.h"

// A GPU's files, as a find saw them; "" where the GPU or its driver has none.
struct DrmSources {
    std::string runtimeStatus;  // power/runtime_status: anything but "active" is asleep
    std::string busyPercent;    // amdgpu gpu_busy_percent
    std::string memoryBusyPercent;
    bool busyFromClients = false;     // busy from the clients' engine time (no busy file)
    bool videoFromClients = false;    // encoder and decoder from the clients' engine time
    bool clientsWakeGpu = false;      // reading a client's fdinfo wakes a sleeping GPU (xe)
    std::string graphicsLevels;       // amdgpu pp_dpm_sclk
    std::string memoryLevels;         // amdgpu pp_dpm_mclk
    std::string graphicsHz;           // hwmon freq1_input
    std::string memoryHz;             // hwmon freq2_input
    std::string graphicsMhz;          // i915 gt_act_freq_mhz, xe act_freq
    std::string graphicsMhzIdle;      // xe cur_freq, for when act_freq reads 0
    std::string temperature;          // hwmon, m°C
    std::string powerMicrowatts;      // hwmon power1_average or power1_input
    std::string energyMicrojoules;    // hwmon energy1_input, read as a rate
    std::string fanRpm, fanMaxRpm;    // hwmon fan1_input and fan1_max
    std::string fanPwm;               // hwmon pwm1, of 255
    std::string vramUsed, vramTotal;  // amdgpu mem_info_vram_*, bytes
    std::string gttUsed, gttTotal;    // counted too where the GPU is integrated
    bool integrated = false;
    // What the GPU itself says it is doing and of its health.
    std::string gpuMetrics;              // amdgpu gpu_metrics, a binary table
    GpuMetricsTable metricsAtFind;       // that table as the find read it
    bool metricsReadAtFind = false;      // false: the GPU slept, and was not woken for it
    std::string hotspotC;                // hwmon temp2_input where it is the junction, m°C
    std::string memoryC;                 // hwmon temp3_input where it is the memory, m°C
    std::string energyTotal;             // hwmon energy1_input, µJ, as a count
    std::vector<std::string> rasFiles;   // amdgpu ras/*_err_count
    std::vector<LimitFile> limitFiles;   // Intel throttle reasons
    std::vector<std::string> idleFiles;  // Intel RC6 or GT idle residency, ms
};

struct DrmGpu {
    FoundGpu found;
    std::string device;              // its PCI device's folder, every link resolved
    std::vector<std::string> nodes;  // its /dev/dri names: "card1", "renderD128"
    DrmSources sources;              // under `device`: they follow the GPU, not a card number
};

// What /sys/class/drm shows: each entry's name and the target its link names. It changes
// when a GPU goes or comes.
typedef std::vector<std::pair<std::string, std::string>> DrmCardList;
DrmCardList drm_card_list(const std::string& root);

// The GPUs under `root` + "/sys/class/drm", in PCI address order, with their models from
// the root's pci.ids. Their sources are found for every GPU whose driver is not `nvidia`.
// Each GPU's files are read on a thread of its own, waited for `waitMs` at most: a GPU
// whose files hang is left out, and the others are found.
std::vector<DrmGpu> drm_find_gpus(const std::string& root, uint32_t waitMs);
