#include "counter_report.h"

#include <cinttypes>

#include "counter_library.h"
#include "counter_text.h"

void PrintCounterInfo(const ProbeIo& io, int32_t index) {
    CounterTextBuffer buffer;
    if (QueryCounterName(index, &buffer) != 0) {
        ProbePrint(io, "\nCounter %d: %s\n", index, "<<<Error retrieving short name>>>");
        return;
    }
    ProbePrint(io, "Counter %d: %s\n", index, buffer.text);
    if (QueryCounterDescription(index, &buffer) == 0)
        ProbePrint(io, "Description: %s\n", buffer.text);
}

void PrintCounterType(const ProbeIo& io, int32_t index) {
    uint64_t kind = 0;
    if (GetCounterAttribute(index, kCounterKindAttribute, &kind) != 0) {
        ProbePrint(io, "Could not determine counter type\n");
    } else {
        ProbePrint(io, kind != 0 ? "Type: Raw\n" : "Type: Percent\n");
    }
}

namespace {
void PrintPercent(const ProbeIo& io, const char* prefix, uint64_t value, uint64_t cycle) {
    if (cycle == 0) {
        ProbePrint(io, "%sPercent: 0\n", prefix);
    } else {
        ProbePrint(io, "%sPercent: %f\n", prefix,
                   static_cast<double>(value) / static_cast<double>(cycle) * 100.0);
    }
}
}  // namespace

void PrintCounterSample(const ProbeIo& io, int32_t index) {
    uint32_t sampled = 0;
    int32_t status = Sample(nullptr, &sampled);
    if (status != 0) {
        ProbePrint(io, "Error %u sampling counter\n", static_cast<uint32_t>(status));
        return;
    }
    uint64_t value = 0;
    uint64_t cycle = 0;
    status = GetCounterValue(index, 0, &value, &cycle);
    if (status != 0) {
        ProbePrint(io, "\nError %u retreiving counter value\n", static_cast<uint32_t>(status));
        return;
    }
    uint64_t kind = 0;
    if (GetCounterAttribute(index, kCounterKindAttribute, &kind) != 0) {
        ProbePrint(io, "Value: %" PRIu64 "  Cycle: %" PRIu64, value, cycle);
        PrintPercent(io, "  ", value, cycle);
    } else if (kind != 0) {
        ProbePrint(io, "Value: %" PRIu64 "  Cycle: %" PRIu64 "\n", value, cycle);
    } else {
        PrintPercent(io, "", value, cycle);
    }
}
