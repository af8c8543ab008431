// Who uses the GPU: the one entry that our counter libraries export beside the query entry,
// a snapshot of the GPU clients as the library's sampler last read them. The entry never
// waits on a driver. Plain records whose size comes first, so that either side may be
// newer: a library fills what the caller's sizes have room for. The vendor's library has
// no such entry, and a host works as before without it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "counter_library.h"

constexpr const char kGpuClientsEntryName[] = "ZarmiteGpuClients";

// The engine classes, one table for every make of GPU.
enum GpuEngineClass : uint32_t {
    kEngineGraphics,
    kEngineCompute,
    kEngineCopy,
    kEngineVideo,  // where one engine decodes and encodes
    kEngineVideoDecode,
    kEngineVideoEncode,
    kEngineVideoEnhance,
    kEngineOther,
    kGpuEngineClasses
};

inline const char* const kGpuEngineClassNames[kGpuEngineClasses] = {
    "graphics",     "compute",      "copy",          "video",
    "video_decode", "video_encode", "video_enhance", "other"};

// The client is shared by several processes (a descriptor inherited or passed on).
constexpr uint32_t kGpuClientShared = 1;

struct GpuClient {
    uint32_t gpu;  // the library's GPU number: the g of its gpu<g>_ counters
    uint32_t pid;
    uint64_t id;  // the client's number, unique on its GPU while the client lives
    // Engine time in nanoseconds, divided by the number of engines of the class; it only
    // grows while the client lives.
    uint64_t busyNs[kGpuEngineClasses];
    uint64_t deviceBytes;  // memory resident in the GPU's own memory
    uint64_t systemBytes;  // and in system memory
    uint32_t flags;
    char name[64];  // the process's name: untrusted text, which may lack its terminator
    char user[32];  // its user's name, or number
};

// A GPU's own busy figure, where its library knows one: the engine time of the device as a
// whole (its busy share integrated over time), in nanoseconds, that only grows. Busy that
// no client accounts for is the part of it that the GPU's clients do not add up to.
struct GpuDevice {
    uint32_t gpu;
    uint32_t known;  // 1 where busyNs is the device's own figure; 0 where there is none
    uint64_t busyNs;
    uint64_t scanNs;  // what the last pass over its clients took, in nanoseconds of wall time
    // Written only for a caller that gives `deviceSize` (the first layout ends before it):
    // when this GPU's clients and busy figure were read, on the snapshot's clock; 0 where
    // the library reads every GPU at once (the snapshot's `atNs` is then the time). Each
    // GPU's growth is over its own interval: GPUs read at different times never tear a
    // round.
    uint64_t atNs;
    // Also written only for a caller that gives `deviceSize` with room for them: what this
    // GPU's last look could not see. Files of its clients whose reads did not end in time
    // (a hung driver); and descriptors on it left unread because a cap was reached (a
    // process's, or the GPU's). 0 and 0: every client was read.
    uint32_t lateClients;
    uint32_t leftOut;
};

// The size of the first layout of a GPU's figures, without its own time.
constexpr uint32_t kGpuDeviceFirstSize = static_cast<uint32_t>(offsetof(GpuDevice, atNs));

struct GpuClients {
    uint32_t size;        // set by the caller: sizeof (GpuClients)
    uint32_t clientSize;  // set by the caller: sizeof (GpuClient)
    uint32_t capacity;    // set by the caller: the clients `clients` has room for
    GpuClient* clients;   // the caller's array
    uint32_t count;       // clients written
    uint32_t total;       // clients there are; above count, the array was too small
    uint32_t unreadable;  // processes whose clients this user could not read
    uint64_t atNs;        // when the library read them, on a clock of its own that only grows
    // Filled only where `size` has room for them (a caller of the first layout has none).
    uint32_t deviceCapacity;  // set by the caller: the GPUs `devices` has room for
    GpuDevice* devices;       // the caller's array
    uint32_t deviceCount;     // GPUs written, in their numbers' order
    // Set by the caller: sizeof (GpuDevice), the stride of `devices`; 0 (a caller that
    // zeroed its record and knows no more) or beyond the record's `size`: the first layout.
    uint32_t deviceSize;
};

// The size of the first layout, without the GPUs' own figures: the least a caller may give.
constexpr uint32_t kGpuClientsFirstSize =
    static_cast<uint32_t>(offsetof(GpuClients, atNs) + sizeof(uint64_t));

// 0 with the snapshot filled, or the library's status (not started: no snapshot).
typedef int32_t(COUNTER_CALL* GpuClientsEntry)(GpuClients* snapshot);
