// The plug-in's four exports, plain C functions with unmangled names.
#pragma once

#include <cstdint>

#include "counter_library.h"
#include "host_source_desc.h"
#include "plat_export.h"

#define ZARMITE_API extern "C" PLAT_EXPORT

// The number of configured sources; reads the configuration when there are none yet.
ZARMITE_API uint32_t COUNTER_CALL GetSourcesNum();
// Fills the host's descriptor of one source: 1 when filled, 0 otherwise.
ZARMITE_API int32_t COUNTER_CALL GetSourceDesc(uint32_t index, HOST_SOURCE_DESC* desc);
// Capability 1 is the only one: 1 with *value set to 1; 0 for every other.
ZARMITE_API int32_t COUNTER_CALL GetSourceCaps(uint32_t index, uint32_t capability,
                                               uint32_t* value);
// The source's current value, or an in-band failure value.
ZARMITE_API float COUNTER_CALL GetSourceData(uint32_t index);
