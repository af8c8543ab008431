// How busy a GPU's engines were since the last look, from its clients' fdinfo: each
// engine class's share summed over the clients, each client counted once however many
// descriptors and processes share it. Only what can be read is counted: a descriptor
// whose process has ended, or whose fdinfo this user may not read, is passed over.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "bounded_reads.h"
#include "fdinfo.h"
#include "gpu_clients.h"

// Reads a file: 0, or the errno of the failure. The library's is drm_read_file.
typedef int (*ReadFdinfo)(const std::string& path, size_t limit, std::string* out);

// What the last look saw, kept between looks.
struct EngineHistory {
    struct Counts {
        uint64_t busy;     // nanoseconds or cycles: the baseline the next look grows from
        uint64_t total;    // total cycles; 0 for nanoseconds
        double usedNs;     // the engine's share summed over the looks' time, divided by capacity
        uint64_t atNs;     // when the baseline was read
        uint32_t refused;  // readings refused in a row since
    };
    // By client ("pdev/id"), then by engine class.
    std::map<std::string, std::map<std::string, Counts>> clients;
    uint64_t atNs = 0;  // when; 0 before the first look
};

// One client as a look saw it, for who uses the GPU.
struct EngineClient {
    std::string id;             // its drm-client-id (or pasid); "" where it has none
    std::string name;           // its drm-client-name: untrusted; "" where it has none
    std::vector<size_t> paths;  // the indexes of its descriptors among the look's paths
    uint64_t busyNs[kGpuEngineClasses] = {};  // engine time by class, divided by capacity
    uint64_t deviceBytes = 0;                 // resident in the GPU's own memory
    uint64_t systemBytes = 0;                 // and in system memory
};

struct EngineShares {
    std::map<std::string, double> byEngine;  // 0 to 1, by engine class
    bool measured = false;                   // false on the first look, which only takes a baseline
    uint32_t clients = 0;                    // clients read
    std::vector<EngineClient> byClient;
    std::vector<size_t> denied;  // the indexes of the paths this user may not read
    std::vector<size_t> late;    // and of those whose read did not end in time
};

// The engine class of a driver's engine (amdgpu gfx, i915 render, xe rcs: graphics; ...).
uint32_t engine_class_of(const std::string& engine);
// Whether a memory region (amdgpu vram, i915 and xe local0) is the GPU's own memory;
// the others (gtt, cpu, system0, stolen, memory) are system memory.
bool device_memory_region(const std::string& region);

// A client missing from a look (its file could not be read, its process was between two
// descriptors) keeps its engine time this long, and goes on from it when it is back.
constexpr uint64_t kClientGraceNs = 60000000000ULL;
// A reading that grew more than the time since the client's last look allows (with this
// much slack for the moment between the two reads) is a glitch and is refused; after this
// many refused in a row, it is believed, as a new baseline.
constexpr double kGrowthSlack = 1.05;
constexpr uint32_t kMaxRefused = 3;

// Reads the fdinfo files at `paths` at time `nowNs` (a monotonic clock) and compares them
// with the client's last look, which `history` keeps. A counter that went backwards (the
// driver started it again) is a new baseline: no time now, and the time counted so far is
// kept. A client seen for the first time counts from its next look. A client whose
// drm-pdev names another device than `pdev` (a PCI address, lower case) is not counted;
// "" counts every client. Each client's engine time only grows, never faster than the
// wall clock.
EngineShares engine_shares(const std::vector<std::string>& paths, ReadFdinfo read,
                           EngineHistory* history, uint64_t nowNs, const std::string& pdev);
// The same from the files' texts, read already (in the paths' order).
EngineShares engine_shares_of(const std::vector<std::string>& paths,
                              const std::vector<FileText>& texts, EngineHistory* history,
                              uint64_t nowNs, const std::string& pdev);
// How much of an fdinfo file is read.
constexpr size_t kFdinfoLimit = 16 * 1024;

// The largest share among the classes that `names` lists (all classes for none); 0 where
// none of them was busy.
double engine_share_of(const EngineShares& shares, const std::vector<std::string>& names);
