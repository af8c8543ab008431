// The plug-in's four exports as a host sees them.
#pragma once

#include <cstdint>

#include "counter_library.h"
#include "host_source_desc.h"

typedef uint32_t(COUNTER_CALL* GetSourcesNumFn)();
typedef int32_t(COUNTER_CALL* GetSourceDescFn)(uint32_t index, HOST_SOURCE_DESC* desc);
typedef int32_t(COUNTER_CALL* GetSourceCapsFn)(uint32_t index, uint32_t capability,
                                               uint32_t* value);
typedef float(COUNTER_CALL* GetSourceDataFn)(uint32_t index);

struct PluginApi {
    void* library;
    GetSourcesNumFn getSourcesNum;
    GetSourceDescFn getSourceDesc;
    GetSourceCapsFn getSourceCaps;
    GetSourceDataFn getSourceData;
};

// Loads a plug-in from its file (a bare name is the file in the current folder, never a
// search) and looks up its exports. On failure returns false and names
// the problem in `error`; nothing stays loaded.
bool LoadPlugin(const char* path, PluginApi* api, char* error, size_t errorCapacity);
void UnloadPlugin(PluginApi* api);
