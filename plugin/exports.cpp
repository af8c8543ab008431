// The four functions a monitoring host calls. No exception leaves them: a failure inside
// the plug-in must never take the host down. A host should call them one at a time; one
// that calls from several threads at once is served one call after another, so that the
// source list is never read while another call rebuilds it.
#include "exports.h"

#include <cstdio>
#include <mutex>

#include "counter_library.h"
#include "counter_text.h"
#include "ensure_sources_loaded.h"
#include "host_source_desc.h"
#include "module_state.h"
#include "plat_export.h"
#include "platform.h"
#include "sample_source.h"
#include "write_log.h"

namespace {
std::mutex g_callLock;  // held for the whole of every export
}  // namespace

ZARMITE_API uint32_t COUNTER_CALL GetSourcesNum() {
    try {
        const std::lock_guard<std::mutex> serialised(g_callLock);
        EnsureSourcesLoaded();
        const uint32_t count = static_cast<uint32_t>(g_sources.Count());
        if (g_loggingLevel != 0) {
            WriteLog("GetSourcesNum() called", 0);
            char message[32];
            snprintf(message, sizeof message, "%u returned", static_cast<unsigned>(count));
            WriteLog(message, 1);
        }
        return count;
    } catch (...) {
        return 0;
    }
}

ZARMITE_API int32_t COUNTER_CALL GetSourceDesc(uint32_t index, HOST_SOURCE_DESC* desc) {
    try {
        const std::lock_guard<std::mutex> serialised(g_callLock);
        // Only a host that identifies itself this way gets descriptors; the entry is
        // looked up, never called.
        if (!plat_main_module_exports("GetHostAppID")) return 0;
        EnsureSourcesLoaded();
        if (desc == nullptr || index >= g_sources.Count()) return 0;
        const ZARMITE_DATA_SOURCE_DESC* source = g_sources.At(index);
        if (source == nullptr) return 0;

        CopyText(desc->name, sizeof desc->name, source->name, sizeof source->name);
        CopyText(desc->units, sizeof desc->units, source->units, sizeof source->units);
        desc->maxLimit = source->maxLimit;
        desc->minLimit = source->minLimit;
        desc->gridDim = source->gridDim;
        if (desc->version >= kHostDescVersionWithGroup)
            CopyText(desc->group, sizeof desc->group, source->group, sizeof source->group);
        CopyText(desc->description, sizeof desc->description, source->description,
                 sizeof source->description);
        return 1;
    } catch (...) {
        return 0;
    }
}

ZARMITE_API int32_t COUNTER_CALL GetSourceCaps(uint32_t index, uint32_t capability,
                                               uint32_t* value) {
    (void)index;  // every source has the same capabilities
    try {
        const std::lock_guard<std::mutex> serialised(g_callLock);
        if (capability != 1 || value == nullptr) return 0;
        *value = 1;
        return 1;
    } catch (...) {
        return 0;
    }
}

ZARMITE_API float COUNTER_CALL GetSourceData(uint32_t index) {
    try {
        const std::lock_guard<std::mutex> serialised(g_callLock);
        const float value = SampleSource(index);
        if (g_loggingLevel != 0) {
            const ZARMITE_DATA_SOURCE_DESC* source = g_sources.At(index);
            char message[kLogMessageCapacity];
            FormatSourceDataMessage(index, source != nullptr ? source->name : "", value, message);
            WriteLog(message, 1);
        }
        return value;
    } catch (...) {
        return kNoSourceValue;
    }
}
