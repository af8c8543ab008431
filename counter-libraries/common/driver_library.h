// The skeleton of a counter library over a real driver: the query entry, the ten
// operations, the start, the stop, the exit path and the sampler, written once. A library
// supplies only what is its own (DriverParts): how to start and stop its driver, its
// counters' texts and kinds, and how to read one unit of counters.
//
// The promise it keeps, whatever the driver does: no operation waits on a driver call
// without a bound, and no lock that an operation takes is held across one. The driver is
// started on a thread of its own (Initialize waits for it at most kStartWaitMs), read on
// the sampler's threads, and stopped only when no call into it is in progress. Once
// started, the library's module is never unloaded: its threads are never joined.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "background_sampler.h"
#include "counter_library.h"

// Statuses every such library shares. The positive ones are also the NVML driver's codes
// for the same thing.
constexpr int32_t kDriverNotStarted = 1;
constexpr int32_t kDriverBadArgument = 2;
constexpr int32_t kDriverNotAdded = 2;
constexpr int32_t kDriverReadingLate = 10;  // a read that has not ended in time
// Initialize: the driver's start has not ended yet and goes on in the background.
constexpr int32_t kDriverStartPending = -1000;
// Initialize: the driver reports more devices than any machine has.
constexpr int32_t kDriverTooManyDevices = -1001;

constexpr uint32_t kStartWaitMs = 2000;
constexpr uint32_t kMaxDevices = 1024;

struct DriverParts {
    // Starts the driver and learns its devices: 0 with the number of counters and the
    // units that read them, or the negative status of a failed start (the driver then
    // already stopped). Runs on a thread of its own and may take as long as the driver.
    int32_t (*start)(uint32_t* counters, std::vector<CounterUnit>* units);
    // Ends the driver's use. Never called while a call into it is in progress.
    void (*stop)();
    ReadUnit read;
    // From what the start learned; never a call into the driver.
    std::string (*text)(uint32_t counter, bool description);
    bool (*percent)(uint32_t counter);
    uint32_t defaultPeriodMs;
    uint32_t lateMs;        // a read in progress this long is late, whatever the period
    uint32_t workers;       // reads at once
    bool stopAtExit;        // whether the driver may still be called at process exit
    int32_t exitingStatus;  // what Initialize returns once the process is ending
    // Whether a counter only grows (kCounterCumulativeAttribute); null: none does.
    bool (*cumulative)(uint32_t counter);
};

// Has these counters read from now on, as if they had been added (the clients' entry asks
// for the counters whose reads find the clients, whatever the host added); no Sample waits
// for their first reading. Nothing before the start has ended; counters beyond the
// library's are passed over.
void driver_want_counters(const std::vector<uint32_t>& counters);

// The query entry's answer for a library made of `parts`. The parts must live for ever.
CounterEntry DriverQueryInterface(const DriverParts& parts, uint32_t identifier);
