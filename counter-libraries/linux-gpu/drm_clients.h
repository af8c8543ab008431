// Finding the DRM clients: the walk over /proc for descriptors of /dev/dri nodes. It is
// the costly part of reading engine time, so it is done every few seconds, and the
// descriptors it found are read each period in between.
#pragma once

#include <map>
#include <string>
#include <vector>

// By /dev/dri node name ("renderD128", "card1"), the fdinfo paths of the descriptors
// open on it.
typedef std::map<std::string, std::vector<std::string>> DrmDescriptors;

// Walks `root` + "/proc". Processes that end during the walk, and those whose descriptors
// this user may not see, are passed over.
DrmDescriptors drm_find_descriptors(const std::string& root);
