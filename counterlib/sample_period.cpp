#include "sample_period.h"

#include <cstdlib>

SamplePeriod SamplePeriodSetting(uint32_t* ms) {
    const char* text = getenv(kSamplePeriodVariable);
    if (text == nullptr || *text == '\0') return SamplePeriod::kUnset;
    char* end = nullptr;
    const long value = strtol(text, &end, 10);
    if (*end != '\0' || value < 1 || value > static_cast<long>(kMaxSamplePeriodMs))
        return SamplePeriod::kInvalid;
    *ms = static_cast<uint32_t>(value);
    return SamplePeriod::kValid;
}

const char* SamplePeriodWarning() {
    uint32_t ms = 0;
    if (SamplePeriodSetting(&ms) != SamplePeriod::kInvalid) return "";
    return "ZARMITE_SAMPLE_PERIOD_MS is not a whole number of milliseconds from 1 to 60000: "
           "the counter libraries keep their own period";
}
