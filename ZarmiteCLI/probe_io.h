// What the probe's modes need from the world: printing, sleeping and the key-pressed test.
// main wires in the console; tests wire in recorders, so a five-sample sweep over many
// counters runs without real waiting.
#pragma once

#include <cstddef>
#include <cstdint>

struct ProbeIo {
    // False when the text could not be written whole: the reader has gone or the disk is
    // full.
    bool (*write)(void* context, const char* text, size_t length);
    void (*sleepMs)(void* context, uint32_t milliseconds);
    bool (*keyPressed)(void* context);
    void* context;
    // A plain sentence beside a status the output carries, written apart from it (to
    // standard error), so that standard output stays as scripts read it; null: none.
    void (*note)(void* context, const char* text) = nullptr;
    // Set by the first write that fails; nothing more is written after it, and the modes
    // end their run at once.
    mutable bool outputLost = false;
};

// Formats like printf and writes the text at once, unless output has been lost.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void ProbePrint(const ProbeIo& io, const char* format, ...);
