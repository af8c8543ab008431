#include "process_identity.h"

#include <cstdlib>
#include <map>
#include <mutex>

#include "drm_files.h"

namespace {

struct UserNames {
    std::mutex lock;  // never held across a file's read
    std::map<std::pair<std::string, uint32_t>, std::string> byRootAndId;
};

UserNames& Names() {
    static UserNames* names = new UserNames;  // never destroyed: a worker may use it at exit
    return *names;
}

std::string FromPasswd(const std::string& root, uint32_t uid) {
    std::string passwd, name = std::to_string(uid);
    drm_read_file(root + "/etc/passwd", 1 << 20, &passwd);
    const std::string number = std::to_string(uid);
    for (size_t at = 0; at < passwd.size();) {
        size_t end = passwd.find('\n', at);
        if (end == std::string::npos) end = passwd.size();
        const std::string line = passwd.substr(at, end - at);  // name:password:uid:...
        at = end + 1;
        const size_t first = line.find(':');
        const size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        const size_t third = second == std::string::npos ? second : line.find(':', second + 1);
        if (first == 0 || third == std::string::npos ||
            line.compare(second + 1, third - second - 1, number) != 0)
            continue;
        return drm_printable(line.substr(0, first), 31);
    }
    return name;
}

std::string UserName(const std::string& root, uint32_t uid) {
    UserNames& names = Names();
    {
        std::lock_guard<std::mutex> guard(names.lock);
        const auto known = names.byRootAndId.find({root, uid});
        if (known != names.byRootAndId.end()) return known->second;
    }
    const std::string name = FromPasswd(root, uid);
    std::lock_guard<std::mutex> guard(names.lock);
    names.byRootAndId[{root, uid}] = name;
    return name;
}

// Field 22 of a stat line; the name (field 2) is in parentheses and may hold anything, so
// the fields are counted from its last closing one.
uint64_t StartTicks(const std::string& stat) {
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return 0;
    const char* at = stat.c_str() + close + 1;
    for (int field = 3; field < 22; ++field) {
        while (*at == ' ') ++at;
        while (*at != ' ' && *at != '\0') ++at;
        if (*at == '\0') return 0;
    }
    return strtoull(at, nullptr, 10);
}

}  // namespace

ProcessIdentity process_identity(const std::string& root, uint32_t pid) {
    ProcessIdentity identity{"", "", 0};
    const std::string process = root + "/proc/" + std::to_string(pid);
    identity.name = drm_read_line(process + "/comm");
    std::string text;
    drm_read_file(process + "/status", 8192, &text);
    const size_t uid = text.find("\nUid:");
    if (uid != std::string::npos)
        identity.user =
            UserName(root, static_cast<uint32_t>(strtoul(text.c_str() + uid + 5, nullptr, 10)));
    drm_read_file(process + "/stat", 4096, &text);
    identity.startTicks = StartTicks(text);
    return identity;
}
