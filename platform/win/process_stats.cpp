#include <windows.h>
// psapi.h needs windows.h first.
#include <psapi.h>

#include "platform.h"

uint64_t plat_resident_bytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return counters.WorkingSetSize;
}

long plat_open_handle_count() {
    DWORD handles = 0;
    if (!GetProcessHandleCount(GetCurrentProcess(), &handles)) return -1;
    return static_cast<long>(handles);
}
