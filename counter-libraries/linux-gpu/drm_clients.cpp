#include "drm_clients.h"

#include <dirent.h>
#include <unistd.h>

#include <cctype>
#include <cstring>

namespace {

bool AllDigits(const char* name) {
    if (*name == '\0') return false;
    for (; *name != '\0'; ++name)
        if (!isdigit(static_cast<unsigned char>(*name))) return false;
    return true;
}

}  // namespace

DrmDescriptors drm_find_descriptors(const std::string& root) {
    static const char kDri[] = "/dev/dri/";
    DrmDescriptors found;
    const std::string proc = root + "/proc/";
    DIR* processes = opendir(proc.c_str());
    if (processes == nullptr) return found;
    std::string fdPath, linkPath;
    char target[256];
    while (const dirent* process = readdir(processes)) {
        if (!AllDigits(process->d_name)) continue;
        fdPath = proc + process->d_name + "/fd/";
        DIR* descriptors = opendir(fdPath.c_str());
        if (descriptors == nullptr) continue;  // ended, or another user's
        while (const dirent* descriptor = readdir(descriptors)) {
            if (!AllDigits(descriptor->d_name)) continue;
            linkPath = fdPath + descriptor->d_name;
            const ssize_t length = readlink(linkPath.c_str(), target, sizeof target - 1);
            if (length <= static_cast<ssize_t>(sizeof kDri - 1) ||
                strncmp(target, kDri, sizeof kDri - 1) != 0)
                continue;
            const std::string node(target + sizeof kDri - 1,
                                   static_cast<size_t>(length) - (sizeof kDri - 1));
            found[node].push_back(proc + process->d_name + "/fdinfo/" + descriptor->d_name);
        }
        closedir(descriptors);
    }
    closedir(processes);
    return found;
}
