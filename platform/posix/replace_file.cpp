#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "platform.h"

bool plat_file_replace(const char* path, const std::string& data) {
    if (path == nullptr || *path == '\0') return false;
    const std::string temporary = std::string(path) + ".tmp";
    // A link or anything but a file at the temporary path is not written through.
    const int file =
        open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (file < 0) return false;
    size_t written = 0;
    while (written < data.size()) {
        const ssize_t count = write(file, data.data() + written, data.size() - written);
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
