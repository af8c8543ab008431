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

std::vector<std::string> process_identity_paths(const std::string& root, uint32_t pid) {
    const std::string process = root + "/proc/" + std::to_string(pid);
    return {process + "/comm", process + "/status", process + "/stat"};
}

ProcessIdentity process_identity_from(const std::string& root, const FileText* texts) {
    ProcessIdentity identity{"", "", 0};
    if (texts[0].error == 0) identity.name = drm_first_line(texts[0].text);
    const std::string& status = texts[1].error == 0 ? texts[1].text : std::string();
    const size_t uid = status.find("\nUid:");
    if (uid != std::string::npos)
        identity.user =
            UserName(root, static_cast<uint32_t>(strtoul(status.c_str() + uid + 5, nullptr, 10)));
    if (texts[2].error == 0) identity.startTicks = StartTicks(texts[2].text);
    return identity;
}

ProcessIdentity process_identity(const std::string& root, uint32_t pid) {
    const std::vector<std::string> paths = process_identity_paths(root, pid);
    FileText texts[3];
    for (size_t i = 0; i < 3; ++i)
        texts[i].error = drm_read_file(paths[i], kProcessIdentityLimit, &texts[i].text);
    return process_identity_from(root, texts);
}
