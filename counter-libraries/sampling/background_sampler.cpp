#include "background_sampler.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Never destroyed: at process exit the thread may still be inside a reading, and static
// destruction must not pull its state away under it.
struct Sampler {
    std::mutex lock;
    std::condition_variable wake;      // the thread: the set grew, or stop
    std::condition_variable finished;  // the callers: a reading completed, or the thread ended
    std::thread thread;
    bool running = false;
    bool stopping = false;
    bool threadEnded = true;
    ReadCounters read = nullptr;
    void* context = nullptr;
    uint32_t periodMs = 1000;
    std::vector<uint8_t> wanted;
    uint64_t wantedGeneration = 0;  // grows whenever the set grows
    std::vector<CounterReading> latest;
    bool haveLatest = false;
    uint64_t latestGeneration = 0;  // the set's generation when the latest reading began
    std::vector<CounterReading> published;
    bool havePublished = false;
    uint64_t readings = 0;  // completed readings, so a poll copies only a new one
    uint64_t publishedReading = 0;
};

Sampler& State() {
    static Sampler* sampler = new Sampler;
    return *sampler;
}

constexpr int32_t kNoReadingYet = -1;

void Run(Sampler* sampler) {
    std::unique_lock<std::mutex> guard(sampler->lock);
    while (!sampler->stopping) {
        const std::vector<uint8_t> wanted = sampler->wanted;
        const uint64_t generation = sampler->wantedGeneration;
        bool any = false;
        for (uint8_t w : wanted) any = any || w != 0;
        if (any) {
            std::vector<CounterReading> reading(wanted.size(), CounterReading{kNoReadingYet, 0, 0});
            guard.unlock();
            sampler->read(sampler->context, wanted.data(), wanted.size(), reading.data());
            guard.lock();
            sampler->latest.swap(reading);
            sampler->haveLatest = true;
            sampler->latestGeneration = generation;
            ++sampler->readings;
            sampler->finished.notify_all();
        }
        // Sleep out the period, unless the set grows or the sampler is stopped.
        const auto until = Clock::now() + std::chrono::milliseconds(sampler->periodMs);
        sampler->wake.wait_until(guard, until, [&] {
            return sampler->stopping || sampler->wantedGeneration != generation;
        });
    }
    sampler->threadEnded = true;
    sampler->finished.notify_all();
}

// Stops the thread: waits until it has left its loop (a reading in progress finishes),
// then lets it end by itself. It is never joined: Shutdown may come from a module's
// unload, which on Windows runs under the loader lock that an ending thread needs. A
// thread that does not leave its loop in `timeoutMs` (a driver call that never returns)
// is left to end with the process.
void StopThread(Sampler& sampler, std::unique_lock<std::mutex>& guard, uint32_t timeoutMs) {
    if (!sampler.running) return;
    sampler.stopping = true;
    sampler.wake.notify_all();
    if (timeoutMs > 0)
        sampler.finished.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                  [&] { return sampler.threadEnded; });
    sampler.thread.detach();
    sampler.running = false;
}

#if defined(_WIN32)
constexpr uint32_t kExitWaitMs = 0;  // the other threads are gone already
#else
constexpr uint32_t kExitWaitMs = 2000;
#endif

void StopAtExit() {
    Sampler& sampler = State();
    std::unique_lock<std::mutex> guard(sampler.lock);
    StopThread(sampler, guard, kExitWaitMs);
}

}  // namespace

uint32_t sampler_period_ms(uint32_t defaultMs) {
    const char* text = getenv("ZARMITE_SAMPLE_PERIOD_MS");
    if (text == nullptr || *text == '\0') return defaultMs;
    char* end = nullptr;
    const long value = strtol(text, &end, 10);
    if (*end != '\0' || value < 1 || value > 60000) return defaultMs;
    return static_cast<uint32_t>(value);
}

bool sampler_start(size_t count, uint32_t periodMs, ReadCounters read, void* context) {
    Sampler& sampler = State();
    std::unique_lock<std::mutex> guard(sampler.lock);
    if (sampler.running || !sampler.threadEnded) return false;  // the last one is still reading
    static std::once_flag registered;
    // Registered after the driver library was started, so it runs before the driver's own
    // handlers at exit; on an unload of this library it runs then.
    std::call_once(registered, [] { atexit(StopAtExit); });
    sampler.read = read;
    sampler.context = context;
    sampler.periodMs = periodMs;
    sampler.wanted.assign(count, 0);
    sampler.wantedGeneration = 0;
    sampler.latest.clear();
    sampler.haveLatest = false;
    sampler.published.clear();
    sampler.havePublished = false;
    sampler.stopping = false;
    sampler.threadEnded = false;
    try {
        sampler.thread = std::thread(Run, &sampler);
    } catch (...) {
        sampler.threadEnded = true;
        return false;
    }
    sampler.running = true;
    return true;
}

void sampler_stop_at_exit() {
    StopAtExit();
}

void sampler_stop() {
    Sampler& sampler = State();
    std::unique_lock<std::mutex> guard(sampler.lock);
    StopThread(sampler, guard, 2000);
    sampler.wanted.clear();
    sampler.latest.clear();
    sampler.published.clear();
    sampler.haveLatest = false;
    sampler.havePublished = false;
}

bool sampler_sleep(uint32_t ms) {
    Sampler& sampler = State();
    std::unique_lock<std::mutex> guard(sampler.lock);
    sampler.wake.wait_for(guard, std::chrono::milliseconds(ms), [&] { return sampler.stopping; });
    return !sampler.stopping;
}

void sampler_want(size_t index) {
    Sampler& sampler = State();
    std::lock_guard<std::mutex> guard(sampler.lock);
    if (index >= sampler.wanted.size() || sampler.wanted[index] != 0) return;
    sampler.wanted[index] = 1;
    ++sampler.wantedGeneration;
    sampler.wake.notify_all();
}

void sampler_want_none() {
    Sampler& sampler = State();
    std::lock_guard<std::mutex> guard(sampler.lock);
    sampler.wanted.assign(sampler.wanted.size(), 0);
}

bool sampler_publish(uint32_t timeoutMs) {
    Sampler& sampler = State();
    std::unique_lock<std::mutex> guard(sampler.lock);
    if (!sampler.running) return false;
    const uint64_t needed = sampler.wantedGeneration;
    const bool current =
        sampler.finished.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
            return sampler.threadEnded ||
                   (sampler.haveLatest && sampler.latestGeneration >= needed);
        });
    if (!sampler.haveLatest) return false;
    // Most polls find the reading they published last: nothing to copy.
    if (!sampler.havePublished || sampler.publishedReading != sampler.readings) {
        sampler.published = sampler.latest;
        sampler.publishedReading = sampler.readings;
        sampler.havePublished = true;
    }
    return current;
}

CounterReading sampler_published(size_t index, int32_t missing) {
    Sampler& sampler = State();
    std::lock_guard<std::mutex> guard(sampler.lock);
    if (!sampler.havePublished || index >= sampler.published.size() ||
        sampler.published[index].status == kNoReadingYet)
        return CounterReading{missing, 0, 0};
    return sampler.published[index];
}
