// A stand-in for Windows' pdh.dll, for the tests under Wine: the GPU counters' instance
// lists and values from a scenario file named by ZARMITE_PDH_SCENARIO, read again at every
// PdhOpenQueryW. Loaded instead of Wine's own by lying beside the test's executable, with
// WINEDLLOVERRIDES=pdh=n. Lines:
//   engine NAME VALUE          an instance of \GPU Engine(*)\Utilization Percentage
//   dedicated NAME BYTES       an instance of \GPU Adapter Memory(*)\Dedicated Usage
//   shared NAME BYTES          an instance of \GPU Adapter Memory(*)\Shared Usage
//   running NAME V [STEP]      an instance of \GPU Engine(*)\Running Time: V, and STEP
//                              more at each later collection
//   process-dedicated NAME BYTES, process-shared NAME BYTES
//                              instances of \GPU Process Memory(*)\Dedicated|Shared Usage
//                              (in every name, "pid_self_" stands for this process's id)
//   invalid NAME               that instance's item has a status that is not valid data
//   while PATH                 the instance on the next line is listed only while PATH exists
//   many N                     N more engine instances of one adapter, to measure with
//   missing engine|dedicated|shared   adding that counter fails, as on a system without it
//   record PATH                appends a line per collection to PATH
// It declares what it needs itself rather than including the system's headers.
#include <io.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" __declspec(dllimport) unsigned long __stdcall GetCurrentProcessId();

namespace {

typedef int32_t PDH_STATUS;
constexpr PDH_STATUS kSuccess = 0;
constexpr PDH_STATUS kMoreData = static_cast<PDH_STATUS>(0x800007D2);
constexpr PDH_STATUS kNoObject = static_cast<PDH_STATUS>(0xC0000BB8);
constexpr PDH_STATUS kInvalidHandle = static_cast<PDH_STATUS>(0xC0000BBC);
constexpr PDH_STATUS kInvalidArgument = static_cast<PDH_STATUS>(0xC0000BBD);
constexpr uint32_t kValidData = 0;
constexpr uint32_t kInvalidData = 0xC0000BBA;

struct Value {
    uint32_t status;
    union {
        int32_t longValue;
        double doubleValue;
        int64_t largeValue;
    };
};
struct Item {
    wchar_t* name;
    Value value;
};

enum Kind { kEngine, kDedicated, kShared, kRunning, kProcessDedicated, kProcessShared, kKinds };
const char* const kKindNames[kKinds] = {"engine",  "dedicated",         "shared",
                                        "running", "process-dedicated", "process-shared"};
const wchar_t* const kCounterPaths[kKinds] = {
    L"\\GPU Engine(*)\\Utilization Percentage",  L"\\GPU Adapter Memory(*)\\Dedicated Usage",
    L"\\GPU Adapter Memory(*)\\Shared Usage",    L"\\GPU Engine(*)\\Running Time",
    L"\\GPU Process Memory(*)\\Dedicated Usage", L"\\GPU Process Memory(*)\\Shared Usage"};

struct Instance {
    Kind kind;
    std::string name;
    double value;
    bool invalid;
    std::string onlyWhile;
    double step;  // added at each collection after the first
};

// "pid_self_" in a name stands for this process's id.
std::string WithOwnPid(std::string name) {
    const std::string self = "pid_self_";
    const size_t at = name.find(self);
    if (at != std::string::npos)
        name.replace(at, self.size(), "pid_" + std::to_string(GetCurrentProcessId()) + "_");
    return name;
}

struct Scenario {
    std::vector<Instance> instances;
    bool missing[kKinds] = {};
    std::string record;
};

Scenario g_scenario;
int g_query = 0;
int g_counters[kKinds];
unsigned g_collections = 0;

int KindOf(const char* word) {
    for (int k = 0; k < kKinds; ++k)
        if (strcmp(word, kKindNames[k]) == 0) return k;
    return -1;
}

void ReadScenario() {
    g_scenario = Scenario();
    const char* path = getenv("ZARMITE_PDH_SCENARIO");
    FILE* file = path != nullptr ? fopen(path, "r") : nullptr;
    if (file == nullptr) return;
    char line[1024];
    std::string onlyWhile;
    while (fgets(line, sizeof line, file) != nullptr) {
        line[strcspn(line, "\r\n")] = '\0';
        char word[32] = "", name[700] = "";
        double value = 0, step = 0;
        const int fields = sscanf(line, "%31s %699s %lf %lf", word, name, &value, &step);
        if (fields < 2) continue;
        const int kind = KindOf(word);
        if (kind >= 0 && fields >= 3) {
            g_scenario.instances.push_back(
                Instance{static_cast<Kind>(kind), WithOwnPid(name), value, false, onlyWhile, step});
            onlyWhile.clear();
        } else if (strcmp(word, "invalid") == 0) {
            for (Instance& instance : g_scenario.instances)
                if (instance.name == WithOwnPid(name)) instance.invalid = true;
        } else if (strcmp(word, "while") == 0) {
            onlyWhile = name;
        } else if (strcmp(word, "missing") == 0 && KindOf(name) >= 0) {
            g_scenario.missing[KindOf(name)] = true;
        } else if (strcmp(word, "record") == 0) {
            g_scenario.record = name;
        } else if (strcmp(word, "many") == 0) {
            const int count = atoi(name);
            for (int i = 0; i < count; ++i) {
                char instance[160];
                snprintf(instance, sizeof instance,
                         "pid_%d_luid_0x00000000_0x0000BEEF_phys_0_eng_%d_engtype_3D", 1000 + i,
                         i % 40);
                g_scenario.instances.push_back(Instance{kEngine, instance, 0.05, false, "", 0});
            }
        }
    }
    fclose(file);
}

bool Listed(const Instance& instance) {
    return instance.onlyWhile.empty() || _access(instance.onlyWhile.c_str(), 0) == 0;
}

}  // namespace

#define STAND_IN extern "C" __declspec(dllexport)

STAND_IN PDH_STATUS __stdcall PdhOpenQueryW(const wchar_t*, uintptr_t, void** query) {
    if (query == nullptr) return kInvalidArgument;
    ReadScenario();
    g_collections = 0;
    *query = &g_query;
    return kSuccess;
}

STAND_IN PDH_STATUS __stdcall PdhAddEnglishCounterW(void* query, const wchar_t* path, uintptr_t,
                                                    void** counter) {
    if (query != &g_query || path == nullptr || counter == nullptr) return kInvalidArgument;
    for (int k = 0; k < kKinds; ++k) {
        if (wcscmp(path, kCounterPaths[k]) != 0) continue;
        if (g_scenario.missing[k]) return kNoObject;
        *counter = &g_counters[k];
        return kSuccess;
    }
    return kNoObject;
}

STAND_IN PDH_STATUS __stdcall PdhCollectQueryData(void* query) {
    if (query != &g_query) return kInvalidHandle;
    ++g_collections;
    if (!g_scenario.record.empty()) {
        if (FILE* record = fopen(g_scenario.record.c_str(), "a")) {
            fprintf(record, "collect %u\n", g_collections);
            fclose(record);
        }
    }
    return kSuccess;
}

STAND_IN PDH_STATUS __stdcall PdhGetFormattedCounterArrayW(void* counter, uint32_t, uint32_t* size,
                                                           uint32_t* count, Item* items) {
    int kind = -1;
    for (int k = 0; k < kKinds; ++k)
        if (counter == &g_counters[k]) kind = k;
    if (kind < 0 || size == nullptr || count == nullptr) return kInvalidHandle;
    std::vector<const Instance*> listed;
    size_t names = 0;
    for (const Instance& instance : g_scenario.instances) {
        if (instance.kind != kind || !Listed(instance)) continue;
        listed.push_back(&instance);
        names += (instance.name.size() + 1) * sizeof(wchar_t);
    }
    const size_t needed = listed.size() * sizeof(Item) + names;
    *count = static_cast<uint32_t>(listed.size());
    if (items == nullptr || *size < needed) {
        *size = static_cast<uint32_t>(needed);
        return kMoreData;
    }
    // The names follow the array, in the same buffer, as the system lays them out.
    wchar_t* text = reinterpret_cast<wchar_t*>(items + listed.size());
    for (size_t i = 0; i < listed.size(); ++i) {
        const Instance& instance = *listed[i];
        items[i].name = text;
        for (char c : instance.name) *text++ = static_cast<wchar_t>(c);
        *text++ = L'\0';
        // Rates have no value until the second collection.
        const bool rateReady = kind != kEngine || g_collections >= 2;
        items[i].value.status = instance.invalid || !rateReady ? kInvalidData : kValidData;
        items[i].value.doubleValue =
            instance.value + instance.step * (g_collections > 0 ? g_collections - 1 : 0);
    }
    *size = static_cast<uint32_t>(needed);
    return kSuccess;
}

STAND_IN PDH_STATUS __stdcall PdhCloseQuery(void* query) {
    return query == &g_query ? kSuccess : kInvalidHandle;
}
