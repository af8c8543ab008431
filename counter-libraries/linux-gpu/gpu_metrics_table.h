// amdgpu's gpu_metrics file: a binary table whose layout its header names (format
// revision 1: discrete GPUs; 2: APUs), read for what the GPU itself says it is doing: how
// busy its memory controller was, why its clocks were held down, its hottest point and its
// memory's temperature. Only the layouts known here are read, and a table of an unknown
// revision gives nothing, never figures read at another layout's offsets. A field the
// firmware does not fill holds all ones; a value no GPU can have is a failed reading.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The most of the file that is read: every layout is far smaller.
constexpr size_t kGpuMetricsLimit = 8192;

// One figure of the table: whether the layout has it and the firmware filled it, and
// whether it is a value a GPU can have.
struct MetricsField {
    enum State : uint8_t { kAbsent, kAbsurd, kRead } state = kAbsent;
    uint64_t value = 0;
};

struct GpuMetricsTable {
    uint8_t format = 0;           // format revision: 1 discrete, 2 APU
    uint8_t content = 0;          // content revision
    bool known = false;           // a layout read here; false: nothing below was read
    MetricsField memoryActivity;  // the memory controller's activity, percent
    MetricsField hotspotC;        // the hottest point of the die, °C
    MetricsField memoryC;         // the memory, °C
    // Why the clocks are held down now, from the independent throttle status: a power
    // limit (bits 0-7), a temperature limit (32-47), anything else the firmware limits
    // (current 16-23, PPM and FIT 56-57). Each 0 or 1 where `throttle` was read.
    MetricsField throttle;  // the raw bits
    bool powerLimited = false;
    bool thermalLimited = false;
    bool otherLimited = false;
};

// The table in `bytes` (the whole file, read in one go). False where it is too short to
// hold its header; the header's revision then says whether anything was read (`known`).
bool gpu_metrics_parse(const std::string& bytes, GpuMetricsTable* table);
