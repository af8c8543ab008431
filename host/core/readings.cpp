#include "readings.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const char* FailedReadingName(float value) {
    const struct {
        float value;
        const char* name;
    } kFailures[] = {
        {0.1f, "library"}, {0.2f, "add"}, {0.3f, "sample"}, {0.4f, "read"}, {FLT_MAX, "no source"}};
    for (const auto& failure : kFailures)
        if (memcmp(&value, &failure.value, sizeof value) == 0) return failure.name;
    return nullptr;
}

std::string ShortestFloatG(float value, int* digits) {
    char text[64];
    int precision = 1;
    for (; precision <= 9; ++precision) {
        snprintf(text, sizeof text, "%.*g", precision, static_cast<double>(value));
        if (strtof(text, nullptr) == value) break;
    }
    if (digits != nullptr) *digits = precision;
    return text;
}

std::string FloatText(float value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    int precision = 0;
    const std::string shortest = ShortestFloatG(value, &precision);
    char text[64];
    snprintf(text, sizeof text, "%s", shortest.c_str());
    // %g writes 1300 as 1.3e+03 at two digits: numbers a person reads as they are keep
    // the fixed form, with as many decimals as the digits need.
    const double magnitude = std::fabs(static_cast<double>(value));
    if (strchr(text, 'e') != nullptr && magnitude >= 1e-4 && magnitude < 1e15) {
        const int exponent = static_cast<int>(std::floor(std::log10(magnitude)));
        snprintf(text, sizeof text, "%.*f", std::max(0, precision - 1 - exponent),
                 static_cast<double>(value));
    }
    return text;
}
