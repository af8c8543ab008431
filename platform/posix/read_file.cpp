#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform.h"

namespace {

bool ReadAll(int file, size_t size, std::string& out) {
    out.resize(size);
    size_t done = 0;
    while (done < size) {
        ssize_t got = read(file, &out[done], size - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) break;  // the file shrank while it was read
        done += static_cast<size_t>(got);
    }
    out.resize(done);
    return true;
}

}  // namespace

PlatReadResult plat_file_read(const char* path, size_t limit, std::string& out) {
    out.clear();
    if (path == nullptr) return PlatReadResult::kUnreadable;
    // Opening a pipe or a device for reading could wait for ever; with O_NONBLOCK it
    // returns at once, and the check below turns it away.
    int file = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file < 0) return PlatReadResult::kUnreadable;
    struct stat info;
    PlatReadResult result = PlatReadResult::kUnreadable;
    if (fstat(file, &info) == 0 && S_ISREG(info.st_mode)) {
        if (static_cast<unsigned long long>(info.st_size) > limit)
            result = PlatReadResult::kTooLarge;
        else if (ReadAll(file, static_cast<size_t>(info.st_size), out))
            result = PlatReadResult::kRead;
    }
    close(file);
    if (result != PlatReadResult::kRead) out.clear();
    return result;
}
