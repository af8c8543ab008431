// An in-process counter library for tests: every answer is set by the test, and every
// call is recorded. Installing it replaces the binding's loader; removing it restores the
// platform's loader and leaves every table entry unbound again.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

struct FakeCounter {
    std::string name;
    std::string description;
    uint64_t kind = 1;  // attribute 2: non-zero raw, zero percent
    uint64_t value = 0;
    uint64_t cycle = 0;
};

struct FakeCounterLibrary {
    bool loadFails = false;
    bool lacksQueryEntry = false;
    bool textsUnterminated = false;  // texts fill the whole buffer with no terminator
    int32_t initializeResult = 0;
    std::set<uint32_t> refusedIdentifiers;
    // Status of an operation by name ("AddCounter"), for every counter.
    std::map<std::string, int32_t> failures;
    std::vector<FakeCounter> counters;

    int loads = 0;
    std::vector<uint32_t> queries;
    std::vector<std::string> calls;  // "Initialize", "AddCounter 3", ...
    std::set<int32_t> added;
    int samples = 0;

    FakeCounterLibrary();
    ~FakeCounterLibrary();
    FakeCounterLibrary(const FakeCounterLibrary&) = delete;
    FakeCounterLibrary& operator=(const FakeCounterLibrary&) = delete;

    // Calls whose text starts with `prefix`.
    int CountCalls(const std::string& prefix) const;
};

// Puts every table entry back to NotBoundEntry, as in a fresh process.
void UnbindCounterTable();
