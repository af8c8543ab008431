// Who a process is, from its files under /proc: its name, its user's name and when it
// started (which, with its id, tells a reused process id from the process that had it).
// Shared by every library that hands out GPU clients on Linux. The user's name comes from
// the root's /etc/passwd, never from the system's name services, which may wait on the
// network; names are cached for the life of the process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bounded_reads.h"

struct ProcessIdentity {
    std::string name;     // /proc/PID/comm: untrusted, "" where it cannot be read
    std::string user;     // the user's name, or number; "" where it cannot be read
    uint64_t startTicks;  // field 22 of /proc/PID/stat; 0 where it cannot be read
};

// `root` stands for "/" ("" for the real one).
ProcessIdentity process_identity(const std::string& root, uint32_t pid);
// The same in two steps, for a caller that reads the files itself (with a bound): the three
// files to read, at most kProcessIdentityLimit bytes of each, and who the process is from
// their texts, in that order.
constexpr size_t kProcessIdentityLimit = 8192;
std::vector<std::string> process_identity_paths(const std::string& root, uint32_t pid);
ProcessIdentity process_identity_from(const std::string& root, const FileText* texts);
