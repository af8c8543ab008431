#include <cstdio>

#include "simulation.h"

namespace {

struct BuiltInCounter {
    const char* name;
    const char* description;
    bool raw;
    uint64_t base;  // percent of cycles, or a raw count
    uint64_t step;  // how far the value moves per step of its pattern
};

const BuiltInCounter kBuiltIn[] = {
    {"gpu_busy", "Share of cycles in which the graphics engine had work", false, 40, 6},
    {"gpu_idle", "Share of cycles in which the graphics engine waited", false, 12, 5},
    {"shader_busy", "Share of cycles in which the shader units ran", false, 30, 7},
    {"vertex_busy", "Share of cycles spent fetching and assembling vertices", false, 8, 2},
    {"texture_busy", "Share of cycles in which the texture units fetched texels", false, 22, 4},
    {"raster_busy", "Share of cycles in which the rasterizer produced fragments", false, 18, 3},
    {"memory_busy", "Share of cycles in which the memory interface moved data", false, 35, 5},
    {"frame_time_us", "Time taken to render the last frame, in microseconds", true, 16600, 420},
    {"draw_calls", "Draw calls submitted in the last frame", true, 1800, 75},
    {"triangles", "Triangles sent to the rasterizer in the last frame", true, 2400000, 90000},
    {"vertices_shaded", "Vertices shaded in the last frame", true, 3100000, 120000},
    {"pixels_written", "Pixels written to render targets in the last frame", true, 8300000, 250000},
    {"texture_reads_mb", "Megabytes read by the texture units in the last frame", true, 410, 23},
    {"memory_used_mb", "Video memory in use, in megabytes", true, 2300, 16},
};
constexpr uint32_t kBuiltInCount = sizeof kBuiltIn / sizeof kBuiltIn[0];
constexpr uint64_t kCyclesPerSample = 1000000;

const SimCounterOverride* FindOverride(int32_t index) {
    const SimScenario& scenario = sim_scenario();
    for (size_t i = 0; i < scenario.overrideCount; ++i) {
        if (scenario.overrides[i].index == index) return &scenario.overrides[i];
    }
    return nullptr;
}

// A triangle wave 0, 1, ..., 8, 7, ..., 1 over 16 samples, shifted per counter.
uint64_t Pattern(int32_t index, uint64_t sampleNumber) {
    uint64_t phase = (sampleNumber + static_cast<uint64_t>(index) * 5) % 16;
    return phase <= 8 ? phase : 16 - phase;
}

}  // namespace

uint32_t sim_built_in_count() {
    return kBuiltInCount;
}

SimCounterInfo sim_counter_info(int32_t index, char* scratch, size_t scratchSize) {
    SimCounterInfo info{};
    if (static_cast<uint32_t>(index) < kBuiltInCount) {
        info =
            SimCounterInfo{kBuiltIn[index].name, kBuiltIn[index].description, kBuiltIn[index].raw};
    } else {
        snprintf(scratch, scratchSize, "counter_%d", index);
        info = SimCounterInfo{scratch, "A generated counter that counts samples", index % 2 == 1};
    }
    if (const SimCounterOverride* counter = FindOverride(index)) {
        if (counter->name != nullptr) info.name = counter->name;
        if (counter->description != nullptr) info.description = counter->description;
        if (counter->kind >= 0) info.raw = counter->kind == 1;
    }
    return info;
}

void sim_counter_reading(int32_t index, uint64_t sampleNumber, uint64_t* value, uint64_t* cycle) {
    const SimCounterOverride* counter = FindOverride(index);
    if (counter != nullptr && counter->fixedValue) {
        *value = counter->value;
        *cycle = counter->cycle;
        return;
    }
    *cycle = kCyclesPerSample;
    uint64_t step = Pattern(index, sampleNumber);
    if (static_cast<uint32_t>(index) >= kBuiltInCount) {
        *value = sampleNumber * (static_cast<uint64_t>(index) + 1) % kCyclesPerSample;
    } else if (kBuiltIn[index].raw) {
        *value = kBuiltIn[index].base + step * kBuiltIn[index].step;
    } else {
        *value = (kBuiltIn[index].base + step * kBuiltIn[index].step) * kCyclesPerSample / 100 +
                 step * 1234;
    }
}
