// Readings taken on threads of the counter library's own, so that no poll of the host ever
// waits on a driver call that is late. The counters are read in units: one driver query
// (or a few) serving a run of counters. Worker threads read the wanted units once a
// period; the host's Sample publishes what they last completed.
//
// A driver call may never return. A unit whose read has run longer than the late limit
// is late: its counters fail their value, nobody waits for it, and a new worker takes the
// place of the stuck one (up to a limit), so that every other unit, on the same device
// too, keeps being read. No lock is held across a read.
//
// Threads are never joined: stopping waits, with a bound, for the reads in progress to
// end, and a thread stuck in the driver ends with the process. The sampler's state lives
// until its last thread has left.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct CounterReading {
    int32_t status;  // 0, or why this counter has no value
    uint64_t value;
    uint64_t cycle;
};

// A run of counters that one read serves.
struct CounterUnit {
    uint32_t first;
    uint32_t count;
};

struct Sampler;

// Reads one unit: fills out[0] to out[count - 1] for its counters. Runs on a worker.
typedef void (*ReadUnit)(Sampler* sampler, void* context, uint32_t unit, CounterReading* out);

struct SamplerSettings {
    uint32_t periodMs;      // between the starts of a unit's reads
    uint32_t lateMs;        // a read in progress this long is late
    uint32_t workers;       // reads at once, late ones not counted
    int32_t lateStatus;     // what a late unit's counters fail with
    int32_t missingStatus;  // what a counter with no reading fails with
};

// The period: `ZARMITE_SAMPLE_PERIOD_MS` where it is set (1 to 60,000), else `defaultMs`.
uint32_t sampler_period_ms(uint32_t defaultMs);

// Starts reading: `units` cover counters 0 to `counters` - 1, none wanted yet. Null when
// no thread could be started.
Sampler* sampler_start(const std::vector<CounterUnit>& units, uint32_t counters,
                       const SamplerSettings& settings, ReadUnit read, void* context);
// Stops reading and gives the sampler up: waits up to `waitMs` for reads in progress to
// end, but not for late ones. True when no read is in progress any more, so that the
// driver may be ended; false when one is, and the driver must not be called again.
bool sampler_stop(Sampler* sampler, uint32_t waitMs);

// Adds a counter's unit to the set read, or empties the set. A publish waits for the first
// reading of a unit added with `awaited`, never for one added without.
void sampler_want(Sampler* sampler, uint32_t counter, bool awaited = true);
void sampler_want_none(Sampler* sampler);

// Makes the latest completed readings the published ones. Units wanted since the last
// publish that have no reading yet are waited for, at most `waitMs` in all, and never
// once their read is late.
void sampler_publish(Sampler* sampler, uint32_t waitMs);
// A counter's published reading; failed with the missing or late status when it has none.
CounterReading sampler_published(Sampler* sampler, uint32_t counter);

// For a read: waits `ms` milliseconds, or less when the sampler is stopped. False then.
bool sampler_sleep(Sampler* sampler, uint32_t ms);

// Threads alive (workers and their keeper), reads in progress, and how often a publish
// woke to look again for a first reading; for tests.
struct SamplerActivity {
    uint32_t threads;
    uint32_t reading;
    uint64_t publishWakes;
};
SamplerActivity sampler_activity(Sampler* sampler);
