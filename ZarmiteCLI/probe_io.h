// What the probe's modes need from the world: printing, sleeping and the key-pressed test.
// main wires in the console; tests wire in recorders, so a five-sample sweep over many
// counters runs without real waiting.
#pragma once

#include <cstddef>
#include <cstdint>

struct ProbeIo {
    void (*write)(void* context, const char* text, size_t length);
    void (*sleepMs)(void* context, uint32_t milliseconds);
    bool (*keyPressed)(void* context);
    void* context;
};

// Formats like printf and writes the text at once.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void ProbePrint(const ProbeIo& io, const char* format, ...);
