#include "drm_clients.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

bool AllDigits(const char* name) {
    if (*name == '\0') return false;
    for (; *name != '\0'; ++name)
        if (!isdigit(static_cast<unsigned char>(*name))) return false;
    return true;
}

constexpr char kDri[] = "/dev/dri/";
constexpr size_t kDriLength = sizeof kDri - 1;

// The DRM descriptors of one process, its links read relative to its fd folder: the path
// up to them is looked up once a process, not once a descriptor. Those beyond the cap are
// counted by node in `beyond`, not kept.
std::vector<DrmDescriptor> DescriptorsOf(DIR* processes, const std::string& proc, const char* pid,
                                         std::map<std::string, uint32_t>* beyond, bool* refused) {
    std::vector<DrmDescriptor> found;
    const int folder = openat(dirfd(processes), (std::string(pid) + "/fd").c_str(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {  // ended, or another user's
        *refused = errno == EACCES || errno == EPERM;
        return found;
    }
    DIR* descriptors = fdopendir(folder);
    if (descriptors == nullptr) {
        close(folder);
        return found;
    }
    char target[256];
    while (const dirent* descriptor = readdir(descriptors)) {
        if (descriptor->d_type != DT_LNK && descriptor->d_type != DT_UNKNOWN) continue;
        const ssize_t length = readlinkat(folder, descriptor->d_name, target, sizeof target - 1);
        if (length <= static_cast<ssize_t>(kDriLength) || strncmp(target, kDri, kDriLength) != 0)
            continue;
        if (found.size() == kMaxDescriptorsPerProcess) {
            ++(*beyond)[std::string(target + kDriLength, static_cast<size_t>(length) - kDriLength)];
            continue;
        }
        found.push_back(DrmDescriptor{
            static_cast<uint32_t>(strtoul(pid, nullptr, 10)),
            std::string(target + kDriLength, static_cast<size_t>(length) - kDriLength),
            proc + pid + "/fd/" + descriptor->d_name,
            proc + pid + "/fdinfo/" + descriptor->d_name});
    }
    closedir(descriptors);  // and the folder with it
    return found;
}

}  // namespace

void drm_walk_step(const std::string& root, uint32_t slices, DrmWalk* walk) {
    slices = std::max<uint32_t>(slices, 1);
    const uint32_t slice = walk->steps++ % slices;
    const std::string proc = root + "/proc/";
    std::vector<uint32_t> processes, refusedNow;
    DrmDescriptors known;
    std::map<uint32_t, std::map<std::string, uint32_t>> beyondCap;
    DIR* folder = opendir(proc.c_str());
    if (folder == nullptr) return;
    while (const dirent* process = readdir(folder)) {
        if (!AllDigits(process->d_name)) continue;
        const uint32_t pid = static_cast<uint32_t>(strtoul(process->d_name, nullptr, 10));
        processes.push_back(pid);
        const bool seen = std::binary_search(walk->processes.begin(), walk->processes.end(), pid);
        const auto before = walk->known.find(pid);
        std::vector<DrmDescriptor> descriptors;
        if (!seen || pid % slices == slice) {
            bool refused = false;
            std::map<std::string, uint32_t> beyond;
            descriptors = DescriptorsOf(folder, proc, process->d_name, &beyond, &refused);
            if (!beyond.empty()) {
                walk->cappedProcess = pid;
                beyondCap[pid].swap(beyond);
            }
            if (refused) refusedNow.push_back(pid);
        } else if (std::binary_search(walk->refused.begin(), walk->refused.end(), pid)) {
            refusedNow.push_back(pid);  // as the last read found it
        } else if (before != walk->known.end()) {
            descriptors.swap(before->second);  // as the last read found them
            const auto beyond = walk->beyondCap.find(pid);
            if (beyond != walk->beyondCap.end()) beyondCap[pid].swap(beyond->second);
        }
        if (!descriptors.empty()) known[pid].swap(descriptors);
    }
    closedir(folder);
    std::sort(processes.begin(), processes.end());
    walk->processes.swap(processes);
    walk->known.swap(known);  // processes that ended are gone
    walk->beyondCap.swap(beyondCap);
    std::sort(refusedNow.begin(), refusedNow.end());
    walk->refused.swap(refusedNow);
}

std::vector<DrmDescriptor> drm_descriptors_on(const DrmDescriptors& known,
                                              const std::vector<std::string>& nodes,
                                              size_t* leftOut) {
    std::vector<std::vector<const DrmDescriptor*>> byProcess;
    size_t all = 0;
    for (const auto& process : known) {
        std::vector<const DrmDescriptor*> on;
        for (const DrmDescriptor& descriptor : process.second)
            if (std::find(nodes.begin(), nodes.end(), descriptor.node) != nodes.end())
                on.push_back(&descriptor);
        all += on.size();
        if (!on.empty()) byProcess.push_back(std::move(on));
    }
    std::vector<DrmDescriptor> taken;
    for (size_t rank = 0; taken.size() < std::min(all, kMaxDescriptorsPerGpu); ++rank)
        for (const auto& process : byProcess)
            if (rank < process.size() && taken.size() < kMaxDescriptorsPerGpu)
                taken.push_back(*process[rank]);
    if (leftOut != nullptr) *leftOut = all - taken.size();
    return taken;
}

std::vector<DrmDescriptor> drm_still_open(const std::vector<DrmDescriptor>& descriptors) {
    std::vector<DrmDescriptor> open;
    char target[256];
    for (const DrmDescriptor& descriptor : descriptors) {
        const ssize_t length = readlink(descriptor.link.c_str(), target, sizeof target);
        const size_t size = static_cast<size_t>(length);
        if (length <= 0 || size != kDriLength + descriptor.node.size() ||
            memcmp(target, kDri, kDriLength) != 0 ||
            memcmp(target + kDriLength, descriptor.node.data(), descriptor.node.size()) != 0)
            continue;
        open.push_back(descriptor);
    }
    return open;
}
