// Scenario file lines (a "#" line is a comment):
//   counters N                  the library offers N counters (built-in ones first, then
//                               generated ones named counter_<i>)
//   name I TEXT                 counter I's name is the rest of the line
//   description I TEXT          likewise its description
//   kind I raw|percent          its kind
//   value I VALUE CYCLE         every sample of it reads this value and cycle
//   fail OPERATION STATUS [I]   the operation returns STATUS (for counter I only)
//   refuse IDENTIFIER           the query entry answers null (hexadecimal, or the name of
//                               one of the operations above)
//   unterminated                texts too long for the buffer fill it with no terminator
//   record PATH                 every call is appended to PATH as one line
//   clients C PROCESSES GPUS    who uses the GPU is C clients of PROCESSES processes named
//                               app-<p> (every hundredth with odd bytes) on GPUS GPUs, in
//                               place of the built-in ones (client c is shared by the
//                               processes p of p % C == c)
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "simulation.h"

namespace {

constexpr uint32_t kMaxCounters = 10000000;

const char* const kOperationNames[kSimOperationCount] = {"Initialize",
                                                         "Shutdown",
                                                         "GetNumCounters",
                                                         "GetCounterName",
                                                         "GetCounterDescription",
                                                         "GetCounterAttribute",
                                                         "AddCounter",
                                                         "RemoveAllCounters",
                                                         "Sample",
                                                         "GetCounterValue"};

// Table identifiers of the operations, in SimOperation order.
const uint32_t kOperationIdentifiers[kSimOperationCount] = {
    0x38A4618F, 0x8E91D6F1, 0xA2933EEA, 0xC6802424, 0x57FC239E,
    0x4565C505, 0xCD4624B6, 0xCBA836E1, 0x35E5552F, 0x1E0D2A02};

SimScenario* g_scenario = nullptr;  // never freed: see simulation.h

char* CopyString(const char* text) {
    size_t length = strlen(text);
    char* copy = new char[length + 1];
    memcpy(copy, text, length + 1);
    return copy;
}

bool FindOperation(const char* name, SimOperation* operation) {
    for (int i = 0; i < kSimOperationCount; ++i) {
        if (strcmp(name, kOperationNames[i]) == 0) {
            *operation = static_cast<SimOperation>(i);
            return true;
        }
    }
    return false;
}

SimCounterOverride* OverrideFor(SimScenario* scenario, int32_t index) {
    for (size_t i = 0; i < scenario->overrideCount; ++i) {
        if (scenario->overrides[i].index == index) return &scenario->overrides[i];
    }
    if (scenario->overrideCount == kSimMaxOverrides) return nullptr;
    SimCounterOverride* added = &scenario->overrides[scenario->overrideCount++];
    *added = SimCounterOverride{index, nullptr, nullptr, -1, false, 0, 0};
    return added;
}

// Splits off the first word of `*line`; the rest stays in `*line` without leading blanks.
const char* NextWord(char** line) {
    char* word = *line + strspn(*line, " \t");
    char* end = word + strcspn(word, " \t");
    *line = end;
    if (*end != '\0') {
        *end = '\0';
        *line = end + 1 + strspn(end + 1, " \t");
    }
    return word;
}

void ApplyLine(SimScenario* scenario, char* line) {
    const char* keyword = NextWord(&line);
    if (keyword[0] == '\0' || keyword[0] == '#') return;
    if (strcmp(keyword, "counters") == 0) {
        unsigned long count = strtoul(NextWord(&line), nullptr, 10);
        scenario->counterCount = count > kMaxCounters ? kMaxCounters : static_cast<uint32_t>(count);
    } else if (strcmp(keyword, "clients") == 0) {
        const unsigned long clients = strtoul(NextWord(&line), nullptr, 10);
        const unsigned long processes = strtoul(NextWord(&line), nullptr, 10);
        const unsigned long gpus = strtoul(NextWord(&line), nullptr, 10);
        scenario->manyClients =
            static_cast<uint32_t>(clients > kSimMaxClients ? kSimMaxClients : clients);
        scenario->manyProcesses = static_cast<uint32_t>(processes > kSimMaxClients ? kSimMaxClients
                                                        : processes < clients      ? clients
                                                                                   : processes);
        scenario->manyGpus = static_cast<uint32_t>(gpus < 1 ? 1 : gpus > 64 ? 64 : gpus);
    } else if (strcmp(keyword, "unterminated") == 0) {
        scenario->unterminatedTexts = true;
    } else if (strcmp(keyword, "record") == 0) {
        scenario->recordPath = CopyString(line);
    } else if (strcmp(keyword, "refuse") == 0) {
        const char* word = NextWord(&line);
        SimOperation operation;
        uint32_t identifier = FindOperation(word, &operation)
                                  ? kOperationIdentifiers[operation]
                                  : static_cast<uint32_t>(strtoul(word, nullptr, 16));
        if (scenario->refusedCount < kSimMaxRefused)
            scenario->refused[scenario->refusedCount++] = identifier;
    } else if (strcmp(keyword, "fail") == 0) {
        SimOperation operation;
        if (!FindOperation(NextWord(&line), &operation)) return;
        int32_t status = static_cast<int32_t>(strtol(NextWord(&line), nullptr, 0));
        const char* index = NextWord(&line);
        if (scenario->failureCount < kSimMaxFailures) {
            scenario->failures[scenario->failureCount++] = SimFailure{
                operation, status, index[0] != '\0' ? static_cast<int32_t>(atol(index)) : -1};
        }
    } else {
        SimCounterOverride* counter =
            OverrideFor(scenario, static_cast<int32_t>(atol(NextWord(&line))));
        if (counter == nullptr) return;
        if (strcmp(keyword, "name") == 0) {
            counter->name = CopyString(line);
        } else if (strcmp(keyword, "description") == 0) {
            counter->description = CopyString(line);
        } else if (strcmp(keyword, "kind") == 0) {
            counter->kind = strcmp(line, "raw") == 0 ? 1 : 0;
        } else if (strcmp(keyword, "value") == 0) {
            counter->fixedValue = true;
            counter->value = strtoull(NextWord(&line), nullptr, 10);
            counter->cycle = strtoull(NextWord(&line), nullptr, 10);
        }
    }
}

SimScenario* LoadScenario() {
    SimScenario* scenario = new SimScenario{};
    scenario->counterCount = sim_built_in_count();
    const char* path = getenv("ZARMITE_SIM_SCENARIO");
    FILE* file = path != nullptr && path[0] != '\0' ? fopen(path, "r") : nullptr;
    if (file == nullptr) return scenario;
    char line[4096];
    while (fgets(line, sizeof line, file) != nullptr) {
        line[strcspn(line, "\r\n")] = '\0';
        ApplyLine(scenario, line);
    }
    fclose(file);
    return scenario;
}

}  // namespace

const SimScenario& sim_scenario() {
    if (g_scenario == nullptr) g_scenario = LoadScenario();
    return *g_scenario;
}

const char* sim_operation_name(SimOperation operation) {
    return kOperationNames[operation];
}

int32_t sim_failure(SimOperation operation, int32_t index) {
    const SimScenario& scenario = sim_scenario();
    for (size_t i = 0; i < scenario.failureCount; ++i) {
        const SimFailure& failure = scenario.failures[i];
        if (failure.operation == operation && (failure.index < 0 || failure.index == index))
            return failure.status;
    }
    return 0;
}

void sim_record(const char* format, ...) {
    const char* path = sim_scenario().recordPath;
    if (path == nullptr) return;
    FILE* file = fopen(path, "ab");
    if (file == nullptr) return;
    va_list arguments;
    va_start(arguments, format);
    vfprintf(file, format, arguments);
    va_end(arguments);
    fputc('\n', file);
    fclose(file);
}

bool sim_identifier_refused(uint32_t identifier) {
    const SimScenario& scenario = sim_scenario();
    for (size_t i = 0; i < scenario.refusedCount; ++i) {
        if (scenario.refused[i] == identifier) return true;
    }
    return false;
}
