// Readings taken on a thread of the counter library's own, so that no poll of the host
// ever waits on a slow driver query. The host's Sample publishes the latest completed
// reading; only the first Sample after the sampling set grows waits, for a reading that
// includes the new counters.
//
// A process may exit without Shutdown, or without unloading the module that uses the
// library: the sampler then stops at exit, before the driver library's own teardown, and
// never holds the exit up for longer than one reading in progress.
#pragma once

#include <cstddef>
#include <cstdint>

struct CounterReading {
    int32_t status;  // 0, or why this counter has no value
    uint64_t value;
    uint64_t cycle;
};

// Fills `out[i]` for every i with `wanted[i]` non-zero. Runs on the sampler's thread.
typedef void (*ReadCounters)(void* context, const uint8_t* wanted, size_t count,
                             CounterReading* out);

// The period between readings: `ZARMITE_SAMPLE_PERIOD_MS` where it is set (1 to 60,000),
// otherwise `defaultMs`.
uint32_t sampler_period_ms(uint32_t defaultMs);

// Starts the sampler for `count` counters, none wanted. False when it could not start.
// Only one sampler runs in a process.
bool sampler_start(size_t count, uint32_t periodMs, ReadCounters read, void* context);
// Stops the thread, waiting (up to two seconds) for a reading in progress, and forgets
// everything.
void sampler_stop();
// The same at process exit: the thread is told to stop and left to end with the process.
// On POSIX it is first given up to two seconds to finish a reading in progress, so that
// it never runs on into the driver library's teardown; Windows has already ended every
// other thread when a library's exit handlers run, and joining one there would deadlock.
void sampler_stop_at_exit();

// For the read function: waits `ms` milliseconds, or less when the sampler is being
// stopped. False when it is being stopped.
bool sampler_sleep(uint32_t ms);

// Adds a counter to the set read, or empties the set.
void sampler_want(size_t index);
void sampler_want_none();

// Makes the latest completed reading the published one. When the set has grown since
// the last reading began, waits for one that began after it, at most `timeoutMs`. False
// when nothing could be published in time.
bool sampler_publish(uint32_t timeoutMs);
// The published reading of a counter; a counter with none has the status `missing`.
CounterReading sampler_published(size_t index, int32_t missing);
