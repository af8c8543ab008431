// The diagnostic log beside the module: one line per entry, a local timestamp, the
// message and CR LF, with the file opened and closed for every entry.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform.h"

// Capacity of a GetSourceData message, terminator included.
constexpr size_t kLogMessageCapacity = 100;

// Writes an entry to the log beside the module. With `append` zero the log is started
// afresh. Every failure is silent.
void WriteLog(const char* message, int append);
// The same for a log at `path` and a given time.
void WriteLogAt(const char* path, const char* message, int append, const PlatLocalTime& time);

// "dd-mm-yyyy, hh:mm:ss.mmm " into `out`; returns its length.
size_t FormatLogTimestamp(const PlatLocalTime& time, char* out, size_t capacity);
// "GetSourceData(%u) - %s -  %f", cut to kLogMessageCapacity - 1 characters. The value
// is printed with a "." whatever the host's locale.
void FormatSourceDataMessage(uint32_t index, const char* name, float value,
                             char (&out)[kLogMessageCapacity]);
