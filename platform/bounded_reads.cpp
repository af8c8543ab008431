#include "bounded_reads.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

// Shared with the threads, which may outlive the reader.
struct BoundedReads::State {
    ReadFileFunction read;
    uint32_t waitMs;
    uint32_t maxStuck;
    std::mutex lock;  // never held across a read
    std::condition_variable progress;
    std::multiset<std::string> stuck;  // the files whose reads are left to their threads
};

namespace {

// One thread's share of a batch: it reads paths[next] onwards until it is done or left.
struct Batch {
    std::vector<std::string> paths;
    size_t limit = 0;
    std::vector<FileText> texts;
    size_t next = 0;    // the file being read, or the count read once done
    bool left = false;  // the caller gave up on this thread: it stops after its read
    bool reading = false;
};

void ReadBatch(std::shared_ptr<BoundedReads::State> state, std::shared_ptr<Batch> batch) {
    std::unique_lock<std::mutex> guard(state->lock);
    while (!batch->left && batch->next < batch->paths.size()) {
        const std::string path = batch->paths[batch->next];
        batch->reading = true;
        guard.unlock();
        FileText text{0, std::string()};
        text.error = state->read(path, batch->limit, &text.text);
        guard.lock();
        batch->reading = false;
        if (batch->left) {  // ended after all: the file may be read again
            const auto found = state->stuck.find(path);
            if (found != state->stuck.end()) state->stuck.erase(found);
            break;
        }
        batch->texts[batch->next++] = std::move(text);
        state->progress.notify_all();
    }
}

}  // namespace

BoundedReads::BoundedReads(ReadFileFunction read, uint32_t waitMs, uint32_t maxStuck)
    : state_(std::make_shared<State>()) {
    state_->read = read;
    state_->waitMs = waitMs;
    state_->maxStuck = maxStuck;
}

uint32_t BoundedReads::Stuck() const {
    std::lock_guard<std::mutex> guard(state_->lock);
    return static_cast<uint32_t>(state_->stuck.size());
}

std::vector<FileText> BoundedReads::ReadAll(const std::vector<std::string>& paths, size_t limit) {
    std::vector<FileText> texts(paths.size(), FileText{ETIMEDOUT, std::string()});
    const std::chrono::milliseconds wait(state_->waitMs);
    std::unique_lock<std::mutex> guard(state_->lock);
    size_t from = 0;
    while (from < paths.size() && state_->stuck.size() < state_->maxStuck) {
        // The files still stuck from earlier fail at once; the rest go to a new thread.
        auto batch = std::make_shared<Batch>();
        batch->limit = limit;
        std::vector<size_t> places;
        for (size_t i = from; i < paths.size(); ++i) {
            if (state_->stuck.count(paths[i]) > 0) continue;
            batch->paths.push_back(paths[i]);
            places.push_back(i);
        }
        if (batch->paths.empty()) break;
        batch->texts.resize(batch->paths.size());
        try {
            std::thread(ReadBatch, state_, batch).detach();
        } catch (const std::system_error&) {
            break;  // no thread to be had: the files fail rather than be read without a bound
        }
        size_t seen = 0;
        auto deadline = std::chrono::steady_clock::now() + wait;
        while (batch->next < batch->paths.size()) {
            if (state_->progress.wait_until(guard, deadline) == std::cv_status::timeout &&
                batch->next == seen)
                break;
            if (batch->next != seen) {
                seen = batch->next;
                deadline = std::chrono::steady_clock::now() + wait;
            }
        }
        for (size_t b = 0; b < batch->next; ++b) texts[places[b]] = std::move(batch->texts[b]);
        if (batch->next == batch->paths.size()) break;
        // Stuck in this file: it is left to its thread, and the batch goes on after it.
        batch->left = true;
        state_->stuck.insert(batch->paths[batch->next]);
        from = places[batch->next] + 1;
    }
    return texts;
}
