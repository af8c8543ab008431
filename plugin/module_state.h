// State shared by the plug-in's entry points, one instance per loaded module.
#pragma once

#include <cstddef>
#include <cstdint>

#include "data_sources.h"
#include "sibling_path.h"

// What finding the module's own file needs, recorded when the module is loaded.
extern void* g_moduleHandle;
extern CZarmiteDataSources g_sources;
// The configuration's "LoggingLevel"; non-zero switches the diagnostic log on.
extern int32_t g_loggingLevel;

// Capacity of a path beside the module, in UTF-8 bytes with the terminator: the limit of
// kMaxSiblingPath is counted in the platform's units (UTF-16 units on Windows), each of
// which takes up to three bytes.
constexpr size_t kSiblingPathCapacity = kMaxSiblingPath * 3 + 1;

// The module's own path, as recorded when the module was loaded, with its extension
// replaced, such as ".cfg". False when the module's path is unknown, when the result is
// longer than kMaxSiblingPath (a cut path could name another file), or when the result is
// the module's own path (a module named Zarmite.cfg or Zarmite.log).
bool ModuleSiblingPath(const char* extension, char* out, size_t capacity);
