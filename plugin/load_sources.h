#pragma once

class IniDocument;

// Fills g_sources from a configuration: clears the list, binds the counter library and
// turns sections Source0, Source1, ... into records until a section has no "ID". Texts
// that the file leaves out come from the library. Returns 1 when the list was read and 0
// when the counter library could not be bound.
int LoadSources(const char* path);
int LoadSourcesFrom(const IniDocument& config);

// Frees every record of g_sources, then calls RemoveAllCounters and Shutdown.
void ClearSources();
