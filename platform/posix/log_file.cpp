#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform.h"

intptr_t plat_log_file_open(const char* path, bool append) {
    if (path == nullptr) return -1;
    // One open that neither follows a link (a link at the path fails with ELOOP, dangling
    // or not) nor waits (a pipe with no reader fails at once), and nothing emptied yet.
    int file = open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (file < 0) return -1;
    // What was opened is what gets written: the checks are on the descriptor, so nothing
    // can be swapped in between.
    struct stat info;
    const bool plainFile = fstat(file, &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1;
    if (!plainFile || (!append && ftruncate(file, 0) != 0)) {
        close(file);
        return -1;
    }
    return file;
}

bool plat_log_file_append(intptr_t file, const char* data, size_t size) {
    const int descriptor = static_cast<int>(file);
    const off_t start = lseek(descriptor, 0, SEEK_END);
    if (start < 0) return false;
    while (size > 0) {
        ssize_t written = write(descriptor, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            // A full disk or a size limit: take back the part that was written, so that
            // the next entry does not start in the middle of this one.
            while (ftruncate(descriptor, start) != 0 && errno == EINTR) {
            }
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

void plat_log_file_close(intptr_t file) {
    // The entry is written or lost by now; a failing close changes nothing for the caller.
    close(static_cast<int>(file));
}
