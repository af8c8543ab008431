#include "process_metrics.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "exposition.h"

namespace {

void Family(std::string& out, const char* name, const char* type, const char* help, double value) {
    FamilyHeader(out, name, type, help);
    out += std::string(name) + " " + MetricNumber(value) + "\n";
}

// The fields of /proc/self/stat after the command's name, which may hold spaces and
// parentheses itself: field 3 (the state) is the first.
std::vector<std::string> StatFields(const std::string& stat) {
    std::vector<std::string> fields;
    const size_t end = stat.rfind(')');
    if (end == std::string::npos) return fields;
    size_t at = end + 1;
    while (at < stat.size()) {
        while (at < stat.size() && stat[at] == ' ') ++at;
        const size_t next = stat.find(' ', at);
        const size_t stop = next == std::string::npos ? stat.size() : next;
        if (stop > at) fields.push_back(stat.substr(at, stop - at));
        at = stop;
    }
    return fields;
}

bool Whole(const std::string& text, unsigned long long* value) {
    if (text.empty() || text.find_first_not_of("0123456789\n") != std::string::npos) return false;
    *value = strtoull(text.c_str(), nullptr, 10);
    return true;
}

long OpenFiles() {
    DIR* descriptors = opendir("/proc/self/fd");
    if (descriptors == nullptr) return -1;
    long count = 0;
    while (const dirent* entry = readdir(descriptors))
        if (entry->d_name[0] != '.') ++count;
    closedir(descriptors);
    return count - 1;  // the listing's own descriptor
}

}  // namespace

std::string ProcessFamiliesFrom(const std::string& selfStat, const std::string& systemStat,
                                long openFiles, long maxFiles, long ticksPerSecond,
                                long pageBytes) {
    std::string out;
    const std::vector<std::string> fields = StatFields(selfStat);
    // Fields 14 and 15 (user and system time), 22 (start, in ticks after boot) and 24
    // (resident pages), counted from 1 with the state as field 3.
    unsigned long long user = 0, system = 0, start = 0, resident = 0;
    const bool times = fields.size() > 21 && ticksPerSecond > 0 && Whole(fields[11], &user) &&
                       Whole(fields[12], &system);
    if (times)
        Family(out, "process_cpu_seconds_total", "counter",
               "CPU time the host has used, user and system together, in seconds",
               static_cast<double>(user + system) / static_cast<double>(ticksPerSecond));
    if (fields.size() > 21 && pageBytes > 0 && Whole(fields[21], &resident))
        Family(out, "process_resident_memory_bytes", "gauge",
               "Memory of the host held in RAM, in bytes",
               static_cast<double>(resident) * static_cast<double>(pageBytes));
    if (openFiles >= 0)
        Family(out, "process_open_fds", "gauge", "File descriptors the host holds open",
               static_cast<double>(openFiles));
    if (maxFiles >= 0)
        Family(out, "process_max_fds", "gauge", "File descriptors the host may hold open at most",
               static_cast<double>(maxFiles));
    const size_t boot = systemStat.find("\nbtime ");
    unsigned long long bootSeconds = 0;
    if (times && Whole(fields[19], &start) && boot != std::string::npos &&
        Whole(systemStat.substr(boot + 7, systemStat.find('\n', boot + 7) - boot - 7),
              &bootSeconds))
        Family(out, "process_start_time_seconds", "gauge",
               "When the host started, in seconds since 1970",
               static_cast<double>(bootSeconds) +
                   static_cast<double>(start) / static_cast<double>(ticksPerSecond));
    return out;
}

std::string ProcessFamilies() {
    // /proc's files report a size of 0, so they are read up to a bound as they come.
    std::string selfStat, systemStat;
    if (FILE* file = fopen("/proc/self/stat", "r")) {
        char text[2048];
        selfStat.assign(text, fread(text, 1, sizeof text, file));
        fclose(file);
    }
    if (FILE* file = fopen("/proc/stat", "r")) {
        char line[512];
        while (fgets(line, sizeof line, file) != nullptr)
            if (strncmp(line, "btime ", 6) == 0) systemStat = std::string("\n") + line;
        fclose(file);
    }
    rlimit limit{};
    const long maxFiles = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                              ? static_cast<long>(limit.rlim_cur)
                              : -1;
    return ProcessFamiliesFrom(selfStat, systemStat, OpenFiles(), maxFiles, sysconf(_SC_CLK_TCK),
                               sysconf(_SC_PAGESIZE));
}
