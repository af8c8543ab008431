// The driver's share of the library over every GPU that reads NVIDIA's GPUs through the
// driver's management library (NVML), each found by its PCI address.
#pragma once

#include "gpu_drivers.h"

extern const GpuDriver kNvmlGpuDriver;
