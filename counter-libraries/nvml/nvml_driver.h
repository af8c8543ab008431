// The driver's management library, loaded once per process and never unloaded.
#pragma once

#include "nvml_api.h"

// Loads libnvidia-ml.so.1 (then libnvidia-ml.so) and resolves its entry points. Entry
// points the driver lacks stay null, except the three without which nothing works (start,
// end and device count), whose absence fails the load. Null when there is no usable
// library; the same table on every later call.
const NvmlFunctions* nvml_driver();
