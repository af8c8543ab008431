// Finding the DRM clients: the walk over /proc for descriptors of /dev/dri nodes. It is
// the costly part of reading engine time (a link to read for every descriptor of every
// process), so it is done in slices: each walk looks at the processes of one slice, and
// the descriptors found stay known, and are read each period, until their slice is
// walked again.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct DrmDescriptor {
    std::string node;    // the /dev/dri name: "renderD128", "card1"
    std::string fdinfo;  // the path of its fdinfo
};

// By process id, the DRM descriptors it holds; processes without any are not listed.
typedef std::map<uint32_t, std::vector<DrmDescriptor>> DrmDescriptors;

// Walks `root` + "/proc" for the processes whose id is `slice` modulo `slices`, and makes
// what it finds their entries in `known`. Processes that end during the walk, and those
// whose descriptors this user may not see, are passed over.
void drm_find_descriptors(const std::string& root, uint32_t slice, uint32_t slices,
                          DrmDescriptors* known);

// The fdinfo paths of the descriptors open on any of `nodes`.
std::vector<std::string> drm_descriptors_of(const DrmDescriptors& known,
                                            const std::vector<std::string>& nodes);
