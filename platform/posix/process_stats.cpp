#include <dirent.h>
#include <unistd.h>

#include <cstdio>

#include "platform.h"

uint64_t plat_resident_bytes() {
    FILE* statm = fopen("/proc/self/statm", "r");
    if (statm == nullptr) return 0;
    unsigned long long size = 0;
    unsigned long long resident = 0;
    int read = fscanf(statm, "%llu %llu", &size, &resident);
    fclose(statm);
    return read == 2 ? resident * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) : 0;
}

long plat_open_handle_count() {
    DIR* descriptors = opendir("/proc/self/fd");
    if (descriptors == nullptr) return -1;
    long count = 0;
    while (const dirent* entry = readdir(descriptors)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(descriptors);
    return count - 1;  // the directory's own descriptor
}
