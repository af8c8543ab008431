#include "value_units.h"

#include <cmath>
#include <cstdio>

namespace {

struct Ladder {
    const char* units;
    double factor;         // between one rung and the next
    const char* rungs[4];  // the larger units, nullptr after the last
};

const Ladder kLadders[] = {
    {"mW", 1000, {"W", "kW", "MW", nullptr}},
    {"W", 1000, {"kW", "MW", nullptr, nullptr}},
    {"MiB", 1024, {"GiB", "TiB", "PiB", nullptr}},
    {"KiB", 1024, {"MiB", "GiB", "TiB", nullptr}},
    {"KB/s", 1000, {"MB/s", "GB/s", "TB/s", nullptr}},
    {"MHz", 1000, {"GHz", nullptr, nullptr, nullptr}},
};

// Units whose values are never rescaled: a share, a temperature.
bool Fixed(const std::string& units) {
    return units == "%" || units == "C" ||
           units ==
               "\xC2\xB0"
               "C" ||
           units == "ms";
}

}  // namespace

UnitStep UnitStepFor(double magnitude, const std::string& units) {
    UnitStep step{1, "", units};
    magnitude = std::fabs(magnitude);
    if (Fixed(units) || !std::isfinite(magnitude)) return step;
    for (const Ladder& ladder : kLadders) {
        if (units != ladder.units) continue;
        // MHz turns into GHz only from 10000 on: clocks are read in MHz.
        const double from = units == "MHz" ? 10000 : ladder.factor;
        for (int rung = 0; rung < 4 && ladder.rungs[rung] != nullptr &&
                           magnitude >= (rung == 0 ? from : step.divisor * ladder.factor);
             ++rung) {
            step.divisor *= ladder.factor;
            step.units = ladder.rungs[rung];
        }
        return step;
    }
    // No larger unit: an SI prefix from 10000 on, so that counts up to 9999 read whole.
    static const char* const kPrefixes[] = {"k", "M", "G", "T", "P"};
    for (const char* prefix : kPrefixes) {
        if (magnitude < (step.divisor == 1 ? 10000 : step.divisor * 1000)) break;
        step.divisor *= 1000;
        step.prefix = prefix;
    }
    return step;
}

std::string StepNumber(double value, const UnitStep& step) {
    char text[48];
    snprintf(text, sizeof text, "%.*g%s", step.divisor == 1 ? 6 : 4, value / step.divisor,
             step.prefix.c_str());
    return text;
}

std::string ValueWithUnits(double value, const std::string& units) {
    const UnitStep step = UnitStepFor(value, units);
    std::string text = StepNumber(value, step);
    if (!step.units.empty()) text += " " + step.units;
    return text;
}
