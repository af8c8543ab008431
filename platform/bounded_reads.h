// Reads of files that the kernel may never answer (a hung driver behind /proc or /sys),
// made on threads of their own, so that the caller waits a bounded time and a hung file
// costs only its own reading. Each batch is read in order on one thread; a read that has
// not ended within the wait is left to its thread, the file fails with ETIMEDOUT, and the
// rest of the batch goes on on a new thread. A file whose read is still stuck fails at
// once in later batches, and once `maxStuck` reads are stuck no new thread is started:
// every file fails at once until one of them ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Reads a file: 0, or the errno of the failure.
typedef int (*ReadFileFunction)(const std::string& path, size_t limit, std::string* out);

struct FileText {
    int error;  // 0, the read's errno, or ETIMEDOUT
    std::string text;
};

class BoundedReads {
public:
    BoundedReads(ReadFileFunction read, uint32_t waitMs, uint32_t maxStuck);
    // Reads each of `paths`, at most `limit` bytes of each: their texts in that order.
    // Never waits more than the wait for one file's read, and at most maxStuck waits.
    std::vector<FileText> ReadAll(const std::vector<std::string>& paths, size_t limit);
    // Reads whose threads are still stuck in them.
    uint32_t Stuck() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};
