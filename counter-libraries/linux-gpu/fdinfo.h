// A DRM client's usage statistics, as the kernel prints them in /proc/PID/fdinfo/FD: one
// "key:\tvalue" a line. Engine time in nanoseconds (drm-engine-<e>), or in cycles
// (drm-cycles-<e> of drm-total-cycles-<e>, as xe prints it), with the engine class's
// number of engines (drm-engine-capacity-<e>); or, in amdgpu's older format (no
// drm-driver), each ring's recent share in percent ("gfx0:\t70.59%").
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct EngineCount {
    std::string engine;  // the class: digits at the end of the key left off ("gfx0": gfx)
    uint64_t ns = 0;     // nanoseconds busy, where hasNs
    uint64_t cycles = 0, totalCycles = 0;  // where hasCycles
    uint32_t capacity = 1;
    bool hasNs = false;
    bool hasCycles = false;
    double percent = -1;  // the older format's share, 0 to 100; -1 where there is none
};

// A client's name is cut to this many bytes: what a GPU client record holds.
constexpr size_t kClientNameLimit = 63;

struct FdinfoClient {
    std::string driver;  // "" in the older format
    std::string pdev;    // the PCI address the client's device sits at
    std::string id;      // the client's id on its device: drm-client-id, or the older pasid
    std::string name;    // drm-client-name, as the program set it: untrusted, "" for none
    std::vector<EngineCount> engines;
    // Bytes resident by memory region (drm-resident-<region>, or the older
    // drm-memory-<region>), as large as 64 bits hold at most.
    std::map<std::string, uint64_t> residentBytes;
};

// Parses one fdinfo text. False where it holds no DRM client.
bool fdinfo_parse(const std::string& text, FdinfoClient* client);
