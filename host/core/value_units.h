// Readings as a person reads them: a large value in a larger unit (187000 mW as 187 W,
// 16368 MiB as 15.98 GiB, 2500 KB/s as 2.5 MB/s) or with an SI prefix where its units have
// no larger one (187000 Raw as 187k Raw). Percentages and temperatures stay as they are.
#pragma once

#include <string>

struct UnitStep {
    double divisor;      // the value is shown divided by it
    std::string prefix;  // after the number: "k", "M", "G" for units without a larger one
    std::string units;   // the units then shown
};

// The step for values up to `magnitude` (the largest of those shown together) in `units`.
UnitStep UnitStepFor(double magnitude, const std::string& units);

// The number in a step: six significant digits where it is not scaled (as the value came),
// four where it is.
std::string StepNumber(double value, const UnitStep& step);

// "187 W", "46.1234 %", "2100 Raw", "7" (no units): the value in its own step.
std::string ValueWithUnits(double value, const std::string& units);
