// Finding the DRM clients: the walk over /proc for descriptors of /dev/dri nodes. It is
// the costly part of reading engine time (a link to read for every descriptor of every
// process), so each step reads only new processes and a slice of the others; the
// descriptors found stay known, and are read each period, until their process is read
// again.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// A process reads at most this many of its DRM descriptors, and a GPU at most this many
// in all: any user who may open a render node can open it many thousand times, and each
// descriptor is a file to read every period.
constexpr size_t kMaxDescriptorsPerProcess = 64;
constexpr size_t kMaxDescriptorsPerGpu = 4096;

struct DrmDescriptor {
    uint32_t pid;        // its process
    std::string node;    // the /dev/dri name: "renderD128", "card1"
    std::string link;    // the path of the descriptor itself: /proc/PID/fd/FD
    std::string fdinfo;  // the path of its fdinfo
};

// By process id, the DRM descriptors it holds; processes without any are not listed.
typedef std::map<uint32_t, std::vector<DrmDescriptor>> DrmDescriptors;

// The walk's state between its steps.
struct DrmWalk {
    DrmDescriptors known;
    std::vector<uint32_t> processes;  // every process of the last step, in order
    uint32_t steps = 0;
    uint32_t cappedProcess = 0;  // the last process found with more than the cap; 0 for none
    // By process with more than the cap: its DRM descriptors beyond it, by node.
    std::map<uint32_t, std::map<std::string, uint32_t>> beyondCap;
    std::vector<uint32_t> refused;  // processes whose descriptors this user may not see, in order
};

// One step of the walk over `root` + "/proc": reads the descriptors of the processes that
// were not there at the last step (every process at the first step), and of those whose
// id is the step's number modulo `slices`. A new client is found at the next step; a
// process that has been running opens a new one rarely, and it is found within `slices`
// steps. Processes that end during the walk, and those whose descriptors this user may
// not see, are passed over; a process's descriptors beyond kMaxDescriptorsPerProcess too.
void drm_walk_step(const std::string& root, uint32_t slices, DrmWalk* walk);

// The descriptors open on any of `nodes`, kMaxDescriptorsPerGpu at most, as the walk found
// them, taken a process's first, then a process's second, and so on: many idle descriptors
// of a few processes never crowd out another process's one. `leftOut` (where not null):
// how many the cap left out. Reads nothing.
std::vector<DrmDescriptor> drm_descriptors_on(const DrmDescriptors& known,
                                              const std::vector<std::string>& nodes,
                                              size_t* leftOut = nullptr);
// Those of `descriptors` that are still open on the node the walk found them on: one
// closed, or reopened on another node since (a reused descriptor or process id), is no
// longer that client.
std::vector<DrmDescriptor> drm_still_open(const std::vector<DrmDescriptor>& descriptors);
