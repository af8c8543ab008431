// The simulated counter library: a stand-in for the vendor's library that answers the
// same query entry. It simulates an adapter with a few plausible counters whose values
// move with every sample in a fixed pattern, so runs are repeatable. A scenario file,
// named by the environment variable ZARMITE_SIM_SCENARIO, changes it for tests; see
// scenario.cpp for its lines.
//
// The library keeps only plain data: a process that exits without unloading a module
// that still calls into it must find nothing already destroyed.
#pragma once

#include <cstddef>
#include <cstdint>

enum SimOperation {
    kSimInitialize,
    kSimShutdown,
    kSimGetNumCounters,
    kSimGetCounterName,
    kSimGetCounterDescription,
    kSimGetCounterAttribute,
    kSimAddCounter,
    kSimRemoveAllCounters,
    kSimSample,
    kSimGetCounterValue,
    kSimOperationCount
};

// Statuses of the simulation's own failures.
constexpr int32_t kSimBadCounter = 1;
constexpr int32_t kSimNotAdded = 2;
constexpr int32_t kSimNothingSampled = 3;
constexpr int32_t kSimBadArgument = 4;

struct SimCounterOverride {
    int32_t index;
    char* name;         // null: the built-in or generated name
    char* description;  // null: likewise
    int kind;           // -1: as built in; 0 percent; 1 raw
    bool fixedValue;
    uint64_t value;
    uint64_t cycle;
};

struct SimFailure {
    SimOperation operation;
    int32_t status;
    int32_t index;  // -1: every counter
};

constexpr size_t kSimMaxOverrides = 64;
constexpr size_t kSimMaxFailures = 32;
constexpr size_t kSimMaxRefused = 40;
constexpr uint32_t kSimMaxClients = 100000;

struct SimScenario {
    uint32_t counterCount;
    SimCounterOverride overrides[kSimMaxOverrides];
    size_t overrideCount;
    SimFailure failures[kSimMaxFailures];
    size_t failureCount;
    uint32_t refused[kSimMaxRefused];
    size_t refusedCount;
    bool unterminatedTexts;  // long texts fill the caller's buffer with no terminator
    uint32_t manyClients;    // 0: the built-in clients; else this many, of
    uint32_t manyProcesses;  // this many processes
    uint32_t manyGpus;       // on this many GPUs
    char* recordPath;        // null: calls are not recorded
};

// The scenario in force, read from the file on first use.
const SimScenario& sim_scenario();

const char* sim_operation_name(SimOperation operation);
// Whether the scenario has the query entry answer null for this identifier.
bool sim_identifier_refused(uint32_t identifier);
// The status a scenario sets for this call, or 0.
int32_t sim_failure(SimOperation operation, int32_t index);
// Appends one line to the record file, if the scenario keeps one.
void sim_record(const char* format, ...);

struct SimCounterInfo {
    const char* name;
    const char* description;
    bool raw;
};
// How many counters are built in; a scenario may offer more or fewer.
uint32_t sim_built_in_count();
// The texts and kind of a counter below the count.
SimCounterInfo sim_counter_info(int32_t index, char* scratch, size_t scratchSize);
// The value and cycle of a counter in the sample numbered `sampleNumber`.
void sim_counter_reading(int32_t index, uint64_t sampleNumber, uint64_t* value, uint64_t* cycle);
// The number of the last sample taken; 0 before the first.
uint64_t sim_sample_number();
// Moves the simulated GPU clients on to sample `sample`, taken now.
void sim_clients_sampled(uint64_t sample);
