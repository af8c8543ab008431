#include "sample_source.h"

#include "counter_library.h"
#include "module_state.h"
#include "number_text.h"

float ApplyModification(int32_t modType, float factor, float x) {
    switch (modType) {
        case 1:
            return factor * x;
        case 2:
            return factor > 0.0f ? x / factor : 0.0f;
        case 3:
            return x > 0.0f ? factor / x : 0.0f;
        case 4:
            return factor + x;
        case 5:
            return x - factor;
        case 6:
            return factor - x;
        default:
            return x;
    }
}

float SampleSource(uint32_t index) {
    const ZARMITE_DATA_SOURCE_DESC* source = g_sources.At(index);
    if (source == nullptr) return kNoSourceValue;
    int32_t counter = 0;
    if (!ParseCounterIndex(source->id, &counter)) return kAddFailedValue;

    if (BindCounterLibrary() != 0) return kBindFailedValue;
    if (AddCounter(counter) != 0) return kAddFailedValue;
    uint32_t sampled = 0;
    if (Sample(nullptr, &sampled) != 0) return kSampleFailedValue;
    uint64_t value = 0;
    uint64_t cycle = 0;
    if (GetCounterValue(counter, 0, &value, &cycle) != 0) return kValueFailedValue;

    uint64_t kind = 0;
    if (GetCounterAttribute(counter, kCounterKindAttribute, &kind) != 0) {
        return static_cast<float>(value);  // kind unknown: the raw value, unmodified
    }
    float reading;
    if (kind != 0) {
        reading = static_cast<float>(value);
    } else {
        if (cycle == 0) return 0.0f;
        reading =
            static_cast<float>(static_cast<double>(value) / static_cast<double>(cycle) * 100.0);
    }
    return ApplyModification(source->modType, source->modFactor, reading);
}
