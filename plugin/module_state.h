// State shared by the plug-in's entry points, one instance per loaded module.
#pragma once

#include <cstddef>
#include <cstdint>

#include "data_sources.h"

// What finding the module's own file needs, recorded when the module is loaded.
extern void* g_moduleHandle;
extern CZarmiteDataSources g_sources;
// The configuration's "LoggingLevel"; non-zero switches the diagnostic log on.
extern int32_t g_loggingLevel;

// Capacity of a path beside the module, terminator included.
constexpr size_t kSiblingPathCapacity = 260;

// The module's own path with its extension replaced, such as ".cfg". False when the
// module's path cannot be found or the result does not fit: a cut path could name
// another file, the module itself included.
bool ModuleSiblingPath(const char* extension, char* out, size_t capacity);
