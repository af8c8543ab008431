#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform.h"

namespace {

// A new, empty file of ours at `temporary`, open for writing, or -1. Whatever stood at
// that name (a file with other names, a link, a pipe left by someone) is removed as a
// name first and never written through; O_EXCL then refuses anything that appeared
// meanwhile, and O_NONBLOCK keeps a pipe that slipped in from holding the caller.
int CreateTemporary(const std::string& temporary) {
    unlink(temporary.c_str());
    return open(temporary.c_str(),
                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
}

}  // namespace

bool plat_file_replace(const char* path, const std::string& data) {
    if (path == nullptr || *path == '\0') return false;
    const std::string temporary = std::string(path) + ".tmp";
    const int file = CreateTemporary(temporary);
    if (file < 0) return false;
    size_t written = 0;
    while (written < data.size()) {
        const ssize_t count = write(file, data.data() + written, data.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        written += static_cast<size_t>(count);
    }
    const bool complete = written == data.size();
    if (close(file) != 0 || !complete || rename(temporary.c_str(), path) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool plat_file_replaceable(const char* path, std::string* why) {
    if (path == nullptr || *path == '\0') {
        *why = "no file named";
        return false;
    }
    struct stat info;
    if (lstat(path, &info) == 0 && !S_ISREG(info.st_mode)) {
        *why = "not a regular file";
        return false;
    }
    // The folder is tried as the rounds will use it: a file of ours made and removed.
    const std::string temporary = std::string(path) + ".tmp";
    const int file = CreateTemporary(temporary);
    if (file < 0) {
        *why = strerror(errno);
        return false;
    }
    close(file);
    unlink(temporary.c_str());
    return true;
}

bool plat_file_remove(const char* path) {
    return path != nullptr && *path != '\0' && unlink(path) == 0;
}
