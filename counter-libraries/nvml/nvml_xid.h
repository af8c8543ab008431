// An NVIDIA GPU's XID errors (the driver's critical error codes) as a count and the last
// code: an event set registered once a GPU, drained with a timeout of 0 at each read, so
// that a read never waits for an event. The count grows from the first read on; it never
// goes back while the library runs.
#pragma once

#include <cstdint>

#include "nvml_api.h"

struct XidState {
    bool registered = false;
    nvmlReturn_t status = NVML_ERROR_NOT_SUPPORTED;  // of the registration, once tried
    nvmlEventSet_t set = nullptr;
    uint64_t count = 0;
    uint64_t last = 0;  // the last code seen; 0 for none
};

// At most this many events are taken at a read; the rest wait for the next.
constexpr uint32_t kMaxXidEventsARead = 64;

// Registers the GPU's XID events on the first call, then takes the events waiting. The
// registration's failure (a driver without events, on Windows, or an old one) is returned
// at every call; NVML_SUCCESS otherwise, with `state`'s count and last code brought up to
// date.
nvmlReturn_t nvml_xid_read(const NvmlFunctions& nvml, nvmlDevice_t device, XidState* state);
void nvml_xid_free(const NvmlFunctions& nvml, XidState* state);
