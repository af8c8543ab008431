#pragma once

#include <cstddef>

// Maximum length of a path the plug-in works with, not counting the terminator.
constexpr size_t kMaxSiblingPath = 259;

// Writes `modulePath` with the extension of its file name (the part from the file name's
// last dot on) replaced by `extension` into `out`. A file name without a dot gets the
// extension appended; a dot in a folder name is not an extension. Returns false, with
// `out` empty, when the result does not fit in `capacity` characters with the
// terminator: a cut path could name another file, such as the module itself.
bool sibling_path(const char* modulePath, const char* extension, char* out, size_t capacity);
