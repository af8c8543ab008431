// A value the plug-in returned, as the host's outputs show it: one of the plug-in's
// failure values (a failed reading, to be shown as failed, never as the number it is), or
// a reading, written as the shortest text that reads back as the same 32-bit float (0.4,
// not 0.400000006).
#pragma once

#include <string>

// What a failure value says, in a word ("library": the counter library could not be
// loaded or started at that poll; "add": the counter could not be added or names none;
// "sample", "read": the sample or the value failed; "no source": no source at that
// position); null for a reading. Compared bit for bit: a reading of exactly such a value
// cannot be told from the failure.
const char* FailedReadingName(float value);

// The shortest %g text that reads back as the same float, and the digits it took.
std::string ShortestFloatG(float value, int* precision = nullptr);

// The shortest decimal text that reads back as the same float: "0.4", "19.12", "1e+30";
// "inf", "-inf" and "nan" for what is not finite.
std::string FloatText(float value);
