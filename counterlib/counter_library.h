// The binding to the vendor's counter library. The library is loaded at run time and
// exposes one query entry; every operation is looked up through it by a 32-bit identifier
// and kept in a process-wide table. Every operation is called through its table entry at
// the moment of the call, so a later bind takes effect at once. An entry that was never
// bound holds NotBoundEntry, which does nothing and returns -3.
#pragma once

#include <cstddef>
#include <cstdint>

#include "counter_identifiers.h"

#if defined(_WIN32)
#define COUNTER_CALL __cdecl
#else
#define COUNTER_CALL
#endif

// The library's file name, found only through the platform's default search order.
#if defined(_WIN32)
constexpr const char kCounterLibraryFileName[] = "nvpmapi.dll";
#else
constexpr const char kCounterLibraryFileName[] = "libnvpmapi.so";
#endif
constexpr const char kCounterQueryEntryName[] = "NVPMQueryInterface";

// An entry of unknown argument list; cast to the operation's type at the call. Every
// entry uses the C calling convention, in which the caller removes the arguments, so
// NotBoundEntry can stand in for any of them.
typedef void(COUNTER_CALL* CounterEntry)();
typedef CounterEntry(COUNTER_CALL* CounterQueryEntry)(uint32_t identifier);

struct COUNTER_TABLE_ENTRY {
    CounterEntry entry;
    uint32_t identifier;
};

// Statuses of the binding itself.
constexpr int32_t kStatusLoadFailed = -2;
constexpr int32_t kStatusNoQueryEntry = -1;
constexpr int32_t kStatusNotBound = -3;

// The counter kind is this attribute: non-zero for a raw count, zero for a percentage.
constexpr int32_t kCounterKindAttribute = 2;
// Our libraries answer this attribute too: non-zero for a count that only grows (energy,
// errors), zero for any other. A library that refuses it has no such counts.
constexpr int32_t kCounterCumulativeAttribute = 3;

extern COUNTER_TABLE_ENTRY g_counterTable[kCounterTableSize];
extern int32_t g_bindStatus;

int32_t COUNTER_CALL NotBoundEntry();

// Loads the library, initialises it and fills the table. Returns the new status (0, -1,
// -2 or the negative result of Initialize) and stores it in g_bindStatus. Every call
// loads and initialises the library again; a failed bind leaves earlier entries in place.
int32_t BindCounterLibrary();

// How the binding reaches a library; tests put an in-process fake in place of the
// platform's loader. Plain functions so that the binding stays free of exceptions.
struct CounterLibraryLoader {
    void* (*open)(const char* fileName);
    CounterEntry (*symbol)(void* library, const char* name);
};
// Replaces the loader; null restores the platform's.
void SetCounterLibraryLoader(const CounterLibraryLoader* loader);

// The operations this system calls. Each returns the library's 32-bit status; 0 is
// success.
int32_t Shutdown();
int32_t GetNumCounters(uint32_t* count);
int32_t GetCounterName(int32_t index, char* buffer, uint32_t* length);
int32_t GetCounterDescription(int32_t index, char* buffer, uint32_t* length);
int32_t GetCounterAttribute(int32_t index, int32_t attribute, uint64_t* value);
int32_t AddCounter(int32_t index);
int32_t RemoveAllCounters();
int32_t Sample(void* reserved, uint32_t* count);
int32_t GetCounterValue(int32_t index, int32_t reserved, uint64_t* value, uint64_t* cycle);
