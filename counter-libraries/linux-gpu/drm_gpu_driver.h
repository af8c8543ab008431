// The driver's share of the library over every GPU that reads GPUs through the kernel's
// own files: every GPU but NVIDIA's proprietary driver's.
#pragma once

#include <cstdint>
#include <vector>

#include "gpu_drivers.h"

// The machine's GPUs under /sys/class/drm (drm_gpus.h), kept for the driver's start.
int32_t drm_find(std::vector<FoundGpu>* gpus);

extern const GpuDriver kDrmGpuDriver;
