#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform.h"

intptr_t plat_log_file_open(const char* path, bool append) {
    int file = -1;
    if (append) file = open(path, O_WRONLY | O_CLOEXEC);
    if (file < 0) file = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return file;
}

bool plat_log_file_append(intptr_t file, const char* data, size_t size) {
    int descriptor = static_cast<int>(file);
    if (lseek(descriptor, 0, SEEK_END) < 0) return false;
    while (size > 0) {
        ssize_t written = write(descriptor, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

void plat_log_file_close(intptr_t file) {
    // The entry is written or lost by now; a failing close changes nothing for the caller.
    close(static_cast<int>(file));
}
