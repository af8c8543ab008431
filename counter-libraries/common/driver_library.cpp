#include "driver_library.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <new>
#include <thread>

#include "platform.h"
#include "query_answer.h"

namespace {

using Clock = std::chrono::steady_clock;

// How long a Shutdown or the process's end waits for reads in progress (late ones are
// never waited for). At exit on Windows the system has already ended every other thread.
constexpr uint32_t kStopWaitMs = 2000;
#if defined(_WIN32)
constexpr uint32_t kExitWaitMs = 0;
#else
constexpr uint32_t kExitWaitMs = 2000;
#endif

enum class Phase { kIdle, kStarting, kStarted, kStopping };

// Never destroyed: the process may end while a thread of ours is in the driver.
struct Library {
    std::mutex lock;  // taken before the sampler's own lock, never across a driver call
    std::condition_variable startEnded;
    const DriverParts* parts = nullptr;
    std::atomic<bool> partsSet{false};  // parts is set, and stays so
    Phase phase = Phase::kIdle;
    int32_t startStatus = 0;  // of the last start that ended
    bool stopWhenStarted = false;
    bool exiting = false;
    uint32_t counters = 0;
    uint32_t lateMs = 0;
    Sampler* sampler = nullptr;
    // The start's thread, joined once its start has ended (it leaves at once then), so that
    // no thread of ours outlives a start that is over.
    std::thread starter;
};

Library& State() {
    static Library* library = new Library;
    return *library;
}

void PinThisModule() {
    plat_pin_module_of(reinterpret_cast<const void*>(&State));
}

// A fork copies only the forking thread: the lock is taken around it, and in the child a
// start or stop that another thread was running did not happen.
void BeforeFork() {
    State().lock.lock();
}

void AfterForkInParent() {
    State().lock.unlock();
}

void AfterForkInChild() {
    Library& library = State();
    new (&library.startEnded) std::condition_variable;  // the parent's waiters are not here
    new (&library.starter) std::thread;                 // nor the parent's start thread
    if (library.phase == Phase::kStarting || library.phase == Phase::kStopping)
        library.phase = Phase::kIdle;
    library.lock.unlock();
}

// Stops reading, then the driver when no call into it is left in progress. Called with
// the lock held in the kStarted phase; returns with it held, in the kIdle phase.
void StopStarted(Library& library, std::unique_lock<std::mutex>& guard, uint32_t waitMs,
                 bool stopDriver) {
    Sampler* sampler = library.sampler;
    library.sampler = nullptr;
    library.counters = 0;
    library.phase = Phase::kStopping;
    guard.unlock();
    const bool idle = sampler_stop(sampler, waitMs);
    if (idle && stopDriver)
        library.parts->stop();
    else if (!idle)
        PinThisModule();  // a thread stays in the driver, and in our code after it
    guard.lock();
    library.phase = Phase::kIdle;
}

// Joins the start's thread once its start has ended: in these phases it has nothing left
// to do but leave. The lock is held.
void JoinEndedStart(Library& library) {
    const bool ended = library.phase == Phase::kIdle || library.phase == Phase::kStarted;
    if (ended && library.starter.joinable()) library.starter.join();
}

void EndAtExit() {
    Library& library = State();
    std::unique_lock<std::mutex> guard(library.lock);
    library.exiting = true;
#if defined(_WIN32)
    // The system has ended the thread already; joining under the loader lock would hang.
    if (library.starter.joinable()) library.starter.detach();
#else
    if (library.phase == Phase::kStarting && library.starter.joinable()) library.starter.detach();
    JoinEndedStart(library);
#endif
    if (library.phase == Phase::kStarted)
        StopStarted(library, guard, kExitWaitMs, library.parts->stopAtExit);
    else if (library.phase == Phase::kStarting)
        PinThisModule();  // the start's thread is still in the driver
}

// The start, on a thread of its own.
void Start(Library* library) {
    const DriverParts& parts = *library->parts;
    uint32_t counters = 0;
    std::vector<CounterUnit> units;
    int32_t status;
    try {
        status = parts.start(&counters, &units);
    } catch (...) {
        status = -kDriverNotStarted;  // memory ran out: the driver stopped in the unwinding
    }
    Sampler* sampler = nullptr;
    const uint32_t periodMs = sampler_period_ms(parts.defaultPeriodMs);
    if (status == 0) {
        const SamplerSettings settings{periodMs, parts.lateMs, parts.workers, kDriverReadingLate,
                                       kDriverNotAdded};
        sampler = sampler_start(units, counters, settings, parts.read, nullptr);
        if (sampler == nullptr) {
            parts.stop();
            status = -kDriverNotStarted;
        }
        // After the sampler's own: around a fork, this library's lock is taken first.
        static std::once_flag forkHandlers;
        std::call_once(forkHandlers,
                       [] { plat_at_fork(BeforeFork, AfterForkInParent, AfterForkInChild); });
    }
    std::unique_lock<std::mutex> guard(library->lock);
    if (library->phase != Phase::kStarting) return;  // a fork's child took it away
    if (status == 0 && library->exiting) {
        // The process is ending: nothing more is read, and the driver is left as it is.
        guard.unlock();
        sampler_stop(sampler, 0);
        guard.lock();
        library->phase = Phase::kIdle;
        library->startStatus = parts.exitingStatus;
    } else if (status == 0 && library->stopWhenStarted) {
        library->stopWhenStarted = false;
        library->sampler = sampler;
        library->phase = Phase::kStarted;
        StopStarted(*library, guard, kStopWaitMs, true);
        library->startStatus = -kDriverNotStarted;
    } else if (status == 0) {
        library->sampler = sampler;
        library->counters = counters;
        library->lateMs = parts.lateMs;
        library->phase = Phase::kStarted;
        library->startStatus = 0;
    } else {
        library->phase = Phase::kIdle;
        library->startStatus = status;
    }
    library->stopWhenStarted = false;
    library->startEnded.notify_all();
}

int32_t COUNTER_CALL DriverInitialize() {
    Library& library = State();
    try {
        std::unique_lock<std::mutex> guard(library.lock);
        if (library.exiting) return library.parts->exitingStatus;
        switch (library.phase) {
            case Phase::kStarted:
                return 0;  // the plug-in starts the library before every poll
            case Phase::kStopping:
                return kDriverStartPending;
            case Phase::kStarting:
                library.stopWhenStarted = false;
                return kDriverStartPending;
            case Phase::kIdle:
                break;
        }
        // Registered before the driver starts, so it runs before the driver's own
        // handlers at exit. The module stays loaded from here on: the threads it starts
        // leave by themselves after a Shutdown, still running its code for a moment (and a
        // read stuck in the driver, for ever), so that no unload may unmap it under them.
        static std::once_flag registered;
        std::call_once(registered, [] {
            atexit(EndAtExit);
            PinThisModule();
        });
        JoinEndedStart(library);
        library.phase = Phase::kStarting;
        try {
            library.starter = std::thread(Start, &library);
        } catch (...) {
            library.phase = Phase::kIdle;
            return -kDriverNotStarted;
        }
        library.startEnded.wait_for(guard, std::chrono::milliseconds(kStartWaitMs),
                                    [&] { return library.phase != Phase::kStarting; });
        if (library.phase == Phase::kStarting) return kDriverStartPending;
        JoinEndedStart(library);
        return library.phase == Phase::kStarted ? 0 : library.startStatus;
    } catch (...) {
        return -kDriverNotStarted;
    }
}

int32_t COUNTER_CALL DriverShutdown() {
    Library& library = State();
    std::unique_lock<std::mutex> guard(library.lock);
    if (library.phase == Phase::kStarting) library.stopWhenStarted = true;
    if (library.phase == Phase::kStarted) StopStarted(library, guard, kStopWaitMs, true);
    return 0;
}

// 0 for a counter of a started library, otherwise its status. The lock is held.
int32_t Check(const Library& library, int32_t index) {
    if (library.phase != Phase::kStarted) return kDriverNotStarted;
    if (index < 0 || static_cast<uint32_t>(index) >= library.counters) return kDriverBadArgument;
    return 0;
}

int32_t COUNTER_CALL DriverGetNumCounters(uint32_t* count) {
    Library& library = State();
    std::lock_guard<std::mutex> guard(library.lock);
    if (library.phase != Phase::kStarted) return kDriverNotStarted;
    if (count == nullptr) return kDriverBadArgument;
    *count = library.counters;
    return 0;
}

int32_t CounterText(int32_t index, bool description, char* buffer, uint32_t* length) {
    Library& library = State();
    try {
        std::string text;
        {
            std::lock_guard<std::mutex> guard(library.lock);
            if (int32_t status = Check(library, index)) return status;
            text = library.parts->text(static_cast<uint32_t>(index), description);
        }
        return CopyCounterText(text, buffer, length, kDriverBadArgument);
    } catch (...) {
        return kDriverBadArgument;
    }
}

int32_t COUNTER_CALL DriverGetCounterName(int32_t index, char* buffer, uint32_t* length) {
    return CounterText(index, false, buffer, length);
}

int32_t COUNTER_CALL DriverGetCounterDescription(int32_t index, char* buffer, uint32_t* length) {
    return CounterText(index, true, buffer, length);
}

int32_t COUNTER_CALL DriverGetCounterAttribute(int32_t index, int32_t attribute, uint64_t* value) {
    Library& library = State();
    std::lock_guard<std::mutex> guard(library.lock);
    if (int32_t status = Check(library, index)) return status;
    if (value == nullptr) return kDriverBadArgument;
    const uint32_t counter = static_cast<uint32_t>(index);
    if (attribute == kCounterKindAttribute)
        *value = library.parts->percent(counter) ? 0 : 1;
    else if (attribute == kCounterCumulativeAttribute)
        *value = library.parts->cumulative != nullptr && library.parts->cumulative(counter) ? 1 : 0;
    else
        return kDriverBadArgument;
    return 0;
}

int32_t COUNTER_CALL DriverAddCounter(int32_t index) {
    Library& library = State();
    std::lock_guard<std::mutex> guard(library.lock);
    if (int32_t status = Check(library, index)) return status;
    sampler_want(library.sampler, static_cast<uint32_t>(index));
    return 0;
}

int32_t COUNTER_CALL DriverRemoveAllCounters() {
    Library& library = State();
    std::lock_guard<std::mutex> guard(library.lock);
    if (library.phase != Phase::kStarted) return kDriverNotStarted;
    sampler_want_none(library.sampler);
    return 0;
}

int32_t COUNTER_CALL DriverSample(void*, uint32_t* count) {
    Library& library = State();
    std::lock_guard<std::mutex> guard(library.lock);
    if (library.phase != Phase::kStarted) return kDriverNotStarted;
    // Waits only for the first reading of counters added since the last Sample, and never
    // once that reading is late.
    sampler_publish(library.sampler, library.lateMs);
    if (count != nullptr) *count = 0;
    return 0;
}

int32_t COUNTER_CALL DriverGetCounterValue(int32_t index, int32_t, uint64_t* value,
                                           uint64_t* cycle) {
    Library& library = State();
    std::lock_guard<std::mutex> guard(library.lock);
    if (int32_t status = Check(library, index)) return status;
    if (value == nullptr || cycle == nullptr) return kDriverBadArgument;
    const CounterReading reading = sampler_published(library.sampler, static_cast<uint32_t>(index));
    if (reading.status != 0) return reading.status;
    *value = reading.value;
    *cycle = reading.cycle;
    return 0;
}

const CounterOperations kOperations = {
    AsCounterEntry(DriverInitialize),
    AsCounterEntry(DriverShutdown),
    AsCounterEntry(DriverGetNumCounters),
    AsCounterEntry(DriverGetCounterName),
    AsCounterEntry(DriverGetCounterDescription),
    AsCounterEntry(DriverGetCounterAttribute),
    AsCounterEntry(DriverAddCounter),
    AsCounterEntry(DriverRemoveAllCounters),
    AsCounterEntry(DriverSample),
    AsCounterEntry(DriverGetCounterValue),
};

}  // namespace

void driver_want_counters(const std::vector<uint32_t>& counters) {
    Library& library = State();
    std::lock_guard<std::mutex> guard(library.lock);
    if (library.phase != Phase::kStarted) return;
    for (uint32_t counter : counters)
        if (counter < library.counters) sampler_want(library.sampler, counter, false);
}

CounterEntry DriverQueryInterface(const DriverParts& parts, uint32_t identifier) {
    Library& library = State();
    // The binding asks for 32 entries on every bind: after the first, no lock is taken.
    if (!library.partsSet.load(std::memory_order_acquire)) {
        std::lock_guard<std::mutex> guard(library.lock);
        if (library.parts == nullptr) library.parts = &parts;  // one library, one set of parts
        library.partsSet.store(true, std::memory_order_release);
    }
    return AnswerQuery(kOperations, identifier);
}
