#include "drm_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace {

std::string LinkTarget(const std::string& path) {
    char target[4096];
    const ssize_t length = readlink(path.c_str(), target, sizeof target);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof target) return "";
    return std::string(target, static_cast<size_t>(length));
}

}  // namespace

std::string drm_root() {
    const char* root = getenv("ZARMITE_DRM_ROOT");
    std::string text = root != nullptr ? root : "";
    while (!text.empty() && text.back() == '/') text.pop_back();
    return text;
}

int drm_read_file(const std::string& path, size_t limit, std::string* out) {
    out->clear();
    const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) return errno;
    // procfs files report no size: read until the end, or the limit.
    char buffer[4096];
    int error = 0;
    while (out->size() < limit) {
        const size_t want = std::min(sizeof buffer, limit - out->size());
        const ssize_t got = read(file, buffer, want);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = errno;
            break;
        }
        out->append(buffer, static_cast<size_t>(got));
        // sysfs hands out a file in one read, and procfs fills the buffer unless the text
        // has ended: a read that left room was the last, and the one that would say so is
        // spared.
        if (static_cast<size_t>(got) < want) break;
    }
    close(file);
    if (error != 0) out->clear();
    return error;
}

int drm_read_integer(const std::string& path, int64_t* value) {
    std::string text;
    if (const int error = drm_read_file(path, 64, &text)) return error;
    const char* start = text.c_str();
    while (*start == ' ' || *start == '\t') ++start;
    char* end = nullptr;
    errno = 0;
    const long long number = strtoll(start, &end, 10);
    if (end == start || errno != 0 || (*end != '\0' && *end != '\n' && *end != ' ')) return EBADMSG;
    *value = number;
    return 0;
}

std::string drm_read_line(const std::string& path) {
    std::string text;
    return drm_read_file(path, 256, &text) != 0 ? "" : drm_first_line(text);
}

std::string drm_first_line(const std::string& text) {
    const std::string head = text.substr(0, 256);
    return drm_printable(head.substr(0, head.find('\n')), 200);
}

bool drm_exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

std::vector<std::string> drm_list(const std::string& path) {
    std::vector<std::string> names;
    DIR* folder = opendir(path.c_str());
    if (folder == nullptr) return names;
    while (const dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(folder);
    std::sort(names.begin(), names.end());
    return names;
}

std::string drm_link_name(const std::string& path) {
    std::string target = LinkTarget(path);
    while (!target.empty() && target.back() == '/') target.pop_back();
    const size_t slash = target.rfind('/');
    return slash == std::string::npos ? target : target.substr(slash + 1);
}

std::string drm_real_path(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return "";
    std::string text = resolved;
    free(resolved);
    return text;
}

std::string drm_printable(const std::string& text, size_t limit) {
    std::string shown = text.substr(0, limit);
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) c = '?';
    return shown;
}
