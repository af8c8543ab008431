#include "write_log.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "module_state.h"

size_t FormatLogTimestamp(const PlatLocalTime& time, char* out, size_t capacity) {
    int length =
        snprintf(out, capacity, "%.2d-%.2d-%.2d, %.2d:%.2d:%.2d.%.3d ", time.day, time.month,
                 time.year, time.hour, time.minute, time.second, time.millisecond);
    if (length < 0 || capacity == 0) return 0;
    return static_cast<size_t>(length) < capacity ? static_cast<size_t>(length) : capacity - 1;
}

void FormatSourceDataMessage(uint32_t index, const char* name, float value,
                             char (&out)[kLogMessageCapacity]) {
    // The largest float has 39 digits before the point.
    char number[64];
    auto result = std::to_chars(number, number + sizeof number - 1, static_cast<double>(value),
                                std::chars_format::fixed, 6);
    *result.ptr = '\0';
    snprintf(out, sizeof out, "GetSourceData(%u) - %s -  %s", static_cast<unsigned>(index),
             name != nullptr ? name : "", number);
}

void WriteLogAt(const char* path, const char* message, int append, const PlatLocalTime& time) {
    intptr_t file = plat_log_file_open(path, append != 0);
    if (file == -1) return;
    // One write per entry: the timestamp, the message and the line break.
    char line[512];
    size_t length = FormatLogTimestamp(time, line, sizeof line);
    size_t messageLength = strlen(message);
    if (messageLength > sizeof line - length - 3) messageLength = sizeof line - length - 3;
    memcpy(line + length, message, messageLength);
    length += messageLength;
    line[length++] = '\r';
    line[length++] = '\n';
    plat_log_file_append(file, line, length);  // a failed write is not the host's concern
    plat_log_file_close(file);
}

void WriteLog(const char* message, int append) {
    char path[kSiblingPathCapacity];
    if (!ModuleSiblingPath(".log", path, sizeof path)) return;
    WriteLogAt(path, message, append, plat_local_time());
}
