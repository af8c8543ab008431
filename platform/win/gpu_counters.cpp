#include "gpu_counters.h"

#include <windows.h>

#include <vector>

#include "wide_text.h"

namespace {

// The few PDH declarations used, as the system's pdh.dll exports them.
typedef LONG PDH_STATUS;
typedef HANDLE PDH_HQUERY;
typedef HANDLE PDH_HCOUNTER;
constexpr DWORD kPdhFormatDouble = 0x00000200;
constexpr PDH_STATUS kPdhMoreData = static_cast<PDH_STATUS>(0x800007D2);
constexpr DWORD kPdhValidData = 0x00000000;
constexpr DWORD kPdhNewData = 0x00000001;

struct PdhValue {
    DWORD status;
    union {
        LONG longValue;
        double doubleValue;
        LONGLONG largeValue;
        LPCSTR ansiString;
        LPCWSTR wideString;
    };
};
struct PdhItem {
    LPWSTR name;
    PdhValue value;
};

struct Pdh {
    PDH_STATUS(WINAPI* openQuery)(LPCWSTR, DWORD_PTR, PDH_HQUERY*);
    PDH_STATUS(WINAPI* addEnglishCounter)(PDH_HQUERY, LPCWSTR, DWORD_PTR, PDH_HCOUNTER*);
    PDH_STATUS(WINAPI* collect)(PDH_HQUERY);
    PDH_STATUS(WINAPI* formattedArray)(PDH_HCOUNTER, DWORD, LPDWORD, LPDWORD, PdhItem*);
    PDH_STATUS(WINAPI* closeQuery)(PDH_HQUERY);
};

struct Query {
    Pdh pdh{};
    PDH_HQUERY query = nullptr;
    PDH_HCOUNTER engines = nullptr;
    PDH_HCOUNTER dedicated = nullptr;
    PDH_HCOUNTER shared = nullptr;
    PDH_HCOUNTER runningTime = nullptr;
    PDH_HCOUNTER processDedicated = nullptr;
    PDH_HCOUNTER processShared = nullptr;
};
Query g_query;  // plain handles: nothing to destroy at exit

// A counter that the system may lack: null then, and the rest is read without it.
PDH_HCOUNTER Optional(const wchar_t* path) {
    PDH_HCOUNTER counter = nullptr;
    if (g_query.pdh.addEnglishCounter(g_query.query, path, 0, &counter) != 0) return nullptr;
    return counter;
}

template <typename Function>
bool Resolve(HMODULE library, const char* name, Function* out) {
    *out = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
    return *out != nullptr;
}

bool LoadPdh(Pdh* pdh) {
    HMODULE library = LoadLibraryW(L"pdh.dll");
    if (library == nullptr) return false;
    return Resolve(library, "PdhOpenQueryW", &pdh->openQuery) &&
           Resolve(library, "PdhAddEnglishCounterW", &pdh->addEnglishCounter) &&
           Resolve(library, "PdhCollectQueryData", &pdh->collect) &&
           Resolve(library, "PdhGetFormattedCounterArrayW", &pdh->formattedArray) &&
           Resolve(library, "PdhCloseQuery", &pdh->closeQuery);
}

bool ReadItems(PDH_HCOUNTER counter, std::vector<PlatCounterItem>& out) {
    out.clear();
    if (counter == nullptr) return true;
    DWORD size = 0;
    DWORD count = 0;
    PDH_STATUS status =
        g_query.pdh.formattedArray(counter, kPdhFormatDouble, &size, &count, nullptr);
    if (status != kPdhMoreData) return status == 0;
    // The array and the names it points at, in one buffer of the size asked for.
    std::vector<unsigned char> buffer(size + sizeof(PdhItem));
    PdhItem* items = reinterpret_cast<PdhItem*>(buffer.data());
    status = g_query.pdh.formattedArray(counter, kPdhFormatDouble, &size, &count, items);
    if (status != 0) return false;
    out.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
        const PdhItem& item = items[i];
        const bool valid = item.value.status == kPdhValidData || item.value.status == kPdhNewData;
        out.push_back(
            PlatCounterItem{item.name != nullptr ? utf8_from_wide(item.name) : std::string(),
                            valid ? item.value.doubleValue : 0.0, valid});
    }
    return true;
}

}  // namespace

int32_t plat_gpu_counters_open() {
    plat_gpu_counters_close();
    if (g_query.pdh.openQuery == nullptr && !LoadPdh(&g_query.pdh)) {
        g_query.pdh = Pdh{};
        return kGpuCountersNoPdh;
    }
    if (g_query.pdh.openQuery(nullptr, 0, &g_query.query) != 0) {
        g_query.query = nullptr;
        return kGpuCountersNoQuery;
    }
    // Without the engine counter there is nothing to read, and some systems' counter-array
    // call must not be reached for a counter that was never added.
    if (g_query.pdh.addEnglishCounter(g_query.query, L"\\GPU Engine(*)\\Utilization Percentage", 0,
                                      &g_query.engines) != 0) {
        plat_gpu_counters_close();
        return kGpuCountersNoGpuCounters;
    }
    g_query.dedicated = Optional(L"\\GPU Adapter Memory(*)\\Dedicated Usage");
    g_query.shared = Optional(L"\\GPU Adapter Memory(*)\\Shared Usage");
    g_query.runningTime = Optional(L"\\GPU Engine(*)\\Running Time");
    g_query.processDedicated = Optional(L"\\GPU Process Memory(*)\\Dedicated Usage");
    g_query.processShared = Optional(L"\\GPU Process Memory(*)\\Shared Usage");
    if (g_query.pdh.collect(g_query.query) != 0) {
        plat_gpu_counters_close();
        return kGpuCountersNoQuery;
    }
    return 0;
}

bool plat_gpu_counters_collect(PlatGpuCollection& out) {
    out.engines.clear();
    out.dedicated.clear();
    out.shared.clear();
    out.runningTime.clear();
    out.processDedicated.clear();
    out.processShared.clear();
    out.haveDedicated = g_query.dedicated != nullptr;
    out.haveShared = g_query.shared != nullptr;
    if (g_query.query == nullptr || g_query.pdh.collect(g_query.query) != 0) return false;
    if (!ReadItems(g_query.engines, out.engines) || !ReadItems(g_query.dedicated, out.dedicated) ||
        !ReadItems(g_query.shared, out.shared))
        return false;
    // Who uses the GPU is told where the system can: without it the counters still read.
    if (!ReadItems(g_query.runningTime, out.runningTime)) out.runningTime.clear();
    if (!ReadItems(g_query.processDedicated, out.processDedicated)) out.processDedicated.clear();
    if (!ReadItems(g_query.processShared, out.processShared)) out.processShared.clear();
    return true;
}

void plat_gpu_counters_close() {
    if (g_query.query != nullptr) g_query.pdh.closeQuery(g_query.query);
    g_query.query = nullptr;
    g_query.engines = g_query.dedicated = g_query.shared = nullptr;
    g_query.runningTime = g_query.processDedicated = g_query.processShared = nullptr;
}
