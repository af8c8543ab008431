#include "background_sampler.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <new>
#include <thread>

#include "platform.h"
#include "sample_period.h"

namespace {

using Clock = std::chrono::steady_clock;

// Threads beyond this are not started, however many reads are stuck.
constexpr uint32_t kMaxWorkers = 64;

struct UnitState {
    CounterUnit range;
    bool wanted = false;
    bool awaited = false;  // a publish waits for its first reading
    bool busy = false;
    Clock::time_point busySince{};
    Clock::time_point due{};
    uint64_t completed = 0;  // reads completed since the unit was last wanted
    uint64_t publishedKey = 0;
    std::vector<CounterReading> latest;
};

// What a unit's counters publish: nothing, late, or its reading number n (as 2 + n).
constexpr uint64_t kKeyMissing = 0;
constexpr uint64_t kKeyLate = 1;

}  // namespace

struct Sampler {
    std::mutex lock;
    std::condition_variable work;      // the threads: a unit wanted, a fork, or stop
    std::condition_variable finished;  // a read ended or a thread left
    SamplerSettings settings{};
    ReadUnit read = nullptr;
    void* context = nullptr;
    std::vector<UnitState> units;
    std::vector<uint32_t> unitOf;           // by counter
    std::vector<CounterReading> published;  // by counter
    uint64_t changes = 0;                   // reads completed, units wanted or not
    uint64_t publishedChanges = ~uint64_t{0};
    Clock::time_point nextLateAt{};  // before it, no read in progress is late
    bool stopping = false;
    bool forked = false;  // in a fork's child, where the threads are gone
    bool keeper = false;
    uint32_t workers = 0;
    uint32_t reading = 0;
    uint32_t users = 1;  // the owner and every live thread; the last one frees it
    uint64_t publishWakes = 0;
};

namespace {

// Every sampler alive, for the fork handlers. Never destroyed.
std::mutex& RegistryLock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}

std::vector<Sampler*>& Registry() {
    static std::vector<Sampler*>* samplers = new std::vector<Sampler*>;
    return *samplers;
}

void Register(Sampler* sampler) {
    std::lock_guard<std::mutex> guard(RegistryLock());
    Registry().push_back(sampler);
}

void Unregister(Sampler* sampler) {
    std::lock_guard<std::mutex> guard(RegistryLock());
    std::vector<Sampler*>& samplers = Registry();
    samplers.erase(std::remove(samplers.begin(), samplers.end(), sampler), samplers.end());
}

// A fork copies only the thread that forks: every lock is taken around it, so that the
// child finds them free, and the child's samplers learn that their threads are gone.
void BeforeFork() {
    RegistryLock().lock();
    for (Sampler* sampler : Registry()) sampler->lock.lock();
}

void AfterForkInParent() {
    for (Sampler* sampler : Registry()) sampler->lock.unlock();
    RegistryLock().unlock();
}

// The condition variables may hold the parent's waiters, who do not exist here: they are
// made anew (not destroyed, which would wait for those waiters).
void AfterForkInChild() {
    for (Sampler* sampler : Registry()) {
        new (&sampler->work) std::condition_variable;
        new (&sampler->finished) std::condition_variable;
        sampler->forked = true;
        sampler->keeper = false;
        sampler->workers = 0;
        sampler->reading = 0;
        sampler->users = sampler->stopping ? 0 : 1;  // given up: left to the child's end
        for (UnitState& unit : sampler->units) unit.busy = false;
        sampler->lock.unlock();
    }
    RegistryLock().unlock();
}

// Called by a thread as it leaves, with the lock held; frees the sampler after the last.
void Leave(Sampler* sampler, std::unique_lock<std::mutex>& guard) {
    const bool last = --sampler->users == 0;
    sampler->finished.notify_all();
    guard.unlock();
    if (last) {
        Unregister(sampler);
        delete sampler;
    }
}

bool IsLate(const UnitState& unit, const Sampler& sampler, Clock::time_point now) {
    return unit.busy && now - unit.busySince >= std::chrono::milliseconds(sampler.settings.lateMs);
}

void Worker(Sampler* sampler);
void Keeper(Sampler* sampler);

template <typename Function>
bool StartThread(Sampler* sampler, Function function) {
    try {
        std::thread(function, sampler).detach();
    } catch (...) {
        return false;  // no thread to be had: the others carry on
    }
    ++sampler->users;
    return true;
}

// Keeps as many workers free of late reads as the settings ask for. The lock is held.
void EnsureWorkers(Sampler* sampler) {
    if (sampler->stopping) return;
    if (sampler->forked) {
        sampler->forked = false;
        sampler->changes++;
    }
    if (!sampler->keeper) sampler->keeper = StartThread(sampler, Keeper);
    const Clock::time_point now = Clock::now();
    uint32_t late = 0;
    for (const UnitState& unit : sampler->units) late += IsLate(unit, *sampler, now) ? 1 : 0;
    while (sampler->workers < late + sampler->settings.workers && sampler->workers < kMaxWorkers &&
           StartThread(sampler, Worker))
        ++sampler->workers;
}

// Whether `unit` goes before `other`: a unit not read yet (a host waits for it) before
// one read already, then the one due first.
bool Before(const UnitState& unit, const UnitState& other) {
    if ((unit.completed == 0) != (other.completed == 0)) return unit.completed == 0;
    return unit.due < other.due;
}

// The wanted unit to read next, or null; `wake` is when the next one falls due.
UnitState* NextDue(Sampler* sampler, Clock::time_point now, Clock::time_point* wake) {
    UnitState* next = nullptr;
    *wake = now + std::chrono::milliseconds(sampler->settings.periodMs);
    for (UnitState& unit : sampler->units) {
        if (!unit.wanted || unit.busy) continue;
        if (unit.due <= now) {
            if (next == nullptr || Before(unit, *next)) next = &unit;
        } else {
            *wake = std::min(*wake, unit.due);
        }
    }
    return next;
}

void Worker(Sampler* sampler) {
    std::unique_lock<std::mutex> guard(sampler->lock);
    std::vector<CounterReading> reading;
    while (!sampler->stopping && !sampler->forked) {
        const Clock::time_point now = Clock::now();
        Clock::time_point wake;
        UnitState* unit = NextDue(sampler, now, &wake);
        if (unit == nullptr) {
            sampler->work.wait_until(guard, wake);
            continue;
        }
        unit->busy = true;
        unit->busySince = now;
        sampler->nextLateAt = std::min(sampler->nextLateAt,
                                       now + std::chrono::milliseconds(sampler->settings.lateMs));
        ++sampler->reading;
        sampler->finished.notify_all();  // a publish waiting for it learns when it turns late
        const uint32_t index = static_cast<uint32_t>(unit - sampler->units.data());
        try {
            reading.assign(unit->range.count,
                           CounterReading{sampler->settings.missingStatus, 0, 0});
            guard.unlock();
            sampler->read(sampler, sampler->context, index, reading.data());
            guard.lock();
            if (unit->wanted) {
                unit->latest.swap(reading);
                ++unit->completed;
            }
        } catch (...) {
            if (!guard.owns_lock()) guard.lock();  // no reading this time
        }
        unit->busy = false;
        unit->due = unit->busySince + std::chrono::milliseconds(sampler->settings.periodMs);
        --sampler->reading;
        ++sampler->changes;
        sampler->finished.notify_all();
    }
    --sampler->workers;
    Leave(sampler, guard);
}

// Never calls the driver: replaces workers that are stuck in it.
void Keeper(Sampler* sampler) {
    std::unique_lock<std::mutex> guard(sampler->lock);
    const auto check =
        std::chrono::milliseconds(std::max<uint32_t>(sampler->settings.lateMs / 2, 1));
    while (!sampler->stopping && !sampler->forked) {
        EnsureWorkers(sampler);
        sampler->work.wait_for(guard, check);
    }
    sampler->keeper = false;
    Leave(sampler, guard);
}

// Publishes one unit's readings where they changed.
void PublishUnit(Sampler* sampler, UnitState& unit, Clock::time_point now) {
    uint64_t key = kKeyMissing;
    if (unit.wanted && IsLate(unit, *sampler, now))
        key = kKeyLate;
    else if (unit.wanted && unit.completed > 0)
        key = 2 + unit.completed;
    if (key == unit.publishedKey) return;
    unit.publishedKey = key;
    CounterReading* out = sampler->published.data() + unit.range.first;
    for (uint32_t i = 0; i < unit.range.count; ++i) {
        if (key == kKeyMissing)
            out[i] = CounterReading{sampler->settings.missingStatus, 0, 0};
        else if (key == kKeyLate)
            out[i] = CounterReading{sampler->settings.lateStatus, 0, 0};
        else
            out[i] = i < unit.latest.size() ? unit.latest[i]
                                            : CounterReading{sampler->settings.missingStatus, 0, 0};
    }
}

// Whether a unit wanted since the last publish still has no reading and is not late.
bool AwaitingFirstReading(const Sampler& sampler, Clock::time_point now) {
    for (const UnitState& unit : sampler.units)
        if (unit.wanted && unit.awaited && unit.completed == 0 && !IsLate(unit, sampler, now))
            return true;
    return false;
}

}  // namespace

uint32_t sampler_period_ms(uint32_t defaultMs) {
    uint32_t ms = 0;
    return SamplePeriodSetting(&ms) == SamplePeriod::kValid ? ms : defaultMs;
}

Sampler* sampler_start(const std::vector<CounterUnit>& units, uint32_t counters,
                       const SamplerSettings& settings, ReadUnit read, void* context) {
    static std::once_flag forkHandlers;
    std::call_once(forkHandlers,
                   [] { plat_at_fork(BeforeFork, AfterForkInParent, AfterForkInChild); });
    Sampler* sampler = nullptr;
    try {
        sampler = new Sampler;
        sampler->settings = settings;
        sampler->settings.periodMs = std::max<uint32_t>(settings.periodMs, 1);
        sampler->settings.workers = std::max<uint32_t>(settings.workers, 1);
        sampler->read = read;
        sampler->context = context;
        sampler->unitOf.assign(counters, UINT32_MAX);
        sampler->published.assign(counters, CounterReading{settings.missingStatus, 0, 0});
        for (const CounterUnit& range : units) {
            if (range.count == 0 || range.first >= counters || range.count > counters - range.first)
                continue;
            for (uint32_t c = range.first; c < range.first + range.count; ++c)
                sampler->unitOf[c] = static_cast<uint32_t>(sampler->units.size());
            sampler->units.push_back(UnitState{});
            sampler->units.back().range = range;
        }
    } catch (...) {
        delete sampler;
        return nullptr;
    }
    Register(sampler);
    std::unique_lock<std::mutex> guard(sampler->lock);
    EnsureWorkers(sampler);
    if (sampler->workers > 0) return sampler;
    guard.unlock();
    sampler_stop(sampler, 0);
    return nullptr;
}

bool sampler_stop(Sampler* sampler, uint32_t waitMs) {
    if (sampler == nullptr) return true;
    std::unique_lock<std::mutex> guard(sampler->lock);
    sampler->stopping = true;
    sampler->work.notify_all();
    sampler->finished.notify_all();
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    sampler->finished.wait_until(guard, deadline, [&] {
        if (sampler->reading == 0) return true;
        const Clock::time_point now = Clock::now();
        for (const UnitState& unit : sampler->units)
            if (unit.busy && !IsLate(unit, *sampler, now)) return false;
        return true;  // every read in progress is late: not waited for
    });
    const bool idle = sampler->reading == 0;
    Leave(sampler, guard);
    return idle;
}

void sampler_want(Sampler* sampler, uint32_t counter, bool awaited) {
    std::lock_guard<std::mutex> guard(sampler->lock);
    if (counter >= sampler->unitOf.size() || sampler->unitOf[counter] == UINT32_MAX) return;
    UnitState& unit = sampler->units[sampler->unitOf[counter]];
    if (unit.wanted) {
        unit.awaited = unit.awaited || awaited;
        return;
    }
    unit.wanted = true;
    unit.awaited = awaited;
    unit.completed = 0;
    unit.due = Clock::now();
    ++sampler->changes;
    EnsureWorkers(sampler);
    sampler->work.notify_all();
}

void sampler_want_none(Sampler* sampler) {
    std::lock_guard<std::mutex> guard(sampler->lock);
    for (UnitState& unit : sampler->units) unit.wanted = false;
    ++sampler->changes;
}

void sampler_publish(Sampler* sampler, uint32_t waitMs) {
    std::unique_lock<std::mutex> guard(sampler->lock);
    EnsureWorkers(sampler);
    Clock::time_point now = Clock::now();
    const Clock::time_point deadline = now + std::chrono::milliseconds(waitMs);
    while (AwaitingFirstReading(*sampler, now) && now < deadline && !sampler->stopping) {
        // Woken by a read that ends; at the latest when a read in progress turns late. A
        // read that is late already is no reason to wake: its time is past.
        Clock::time_point wake = deadline;
        for (const UnitState& unit : sampler->units)
            if (unit.busy && !IsLate(unit, *sampler, now))
                wake = std::min(
                    wake, unit.busySince + std::chrono::milliseconds(sampler->settings.lateMs));
        sampler->finished.wait_until(guard, wake);
        ++sampler->publishWakes;
        now = Clock::now();
        // A read that turned late leaves its unit's neighbours without a worker: one is
        // started for them now rather than at the keeper's next look.
        EnsureWorkers(sampler);
    }
    // Most polls find nothing new: no read completed, none turned late.
    if (sampler->changes == sampler->publishedChanges && now < sampler->nextLateAt) return;
    sampler->publishedChanges = sampler->changes;
    sampler->nextLateAt = Clock::time_point::max();
    for (UnitState& unit : sampler->units) {
        PublishUnit(sampler, unit, now);
        if (unit.busy && !IsLate(unit, *sampler, now))
            sampler->nextLateAt =
                std::min(sampler->nextLateAt,
                         unit.busySince + std::chrono::milliseconds(sampler->settings.lateMs));
    }
}

CounterReading sampler_published(Sampler* sampler, uint32_t counter) {
    std::lock_guard<std::mutex> guard(sampler->lock);
    if (counter >= sampler->published.size())
        return CounterReading{sampler->settings.missingStatus, 0, 0};
    return sampler->published[counter];
}

bool sampler_sleep(Sampler* sampler, uint32_t ms) {
    std::unique_lock<std::mutex> guard(sampler->lock);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    sampler->finished.wait_until(guard, deadline, [&] { return sampler->stopping; });
    return !sampler->stopping;
}

SamplerActivity sampler_activity(Sampler* sampler) {
    std::lock_guard<std::mutex> guard(sampler->lock);
    return SamplerActivity{sampler->workers + (sampler->keeper ? 1u : 0u), sampler->reading,
                           sampler->publishWakes};
}
