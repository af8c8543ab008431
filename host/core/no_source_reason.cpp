#include "no_source_reason.h"

#include <cstdint>

#include "bind_failure.h"
#include "counter_identifiers.h"
#include "counter_library.h"
#include "platform.h"
#include "sibling_path.h"

namespace {

// The loaded library's file, or its name where the system does not say.
std::string LibraryPath(CounterQueryEntry entry) {
    char path[1024];
    if (plat_module_path(plat_module_handle_of(reinterpret_cast<const void*>(entry)), path,
                         sizeof path))
        return path;
    return kCounterLibraryFileName;
}

std::string ConfigurationReason(const char* pluginPath) {
    char configuration[kMaxSiblingPath + 1];
    if (!sibling_path(pluginPath, ".cfg", configuration, sizeof configuration))
        return "the plug-in's path is too long for its configuration to be found";
    std::string text;
    if (plat_file_read(configuration, 64 * 1024 * 1024, text) == PlatReadResult::kUnreadable)
        return "the plug-in has no configuration: " + std::string(configuration) +
               " is missing or cannot be read (docs/Zarmite.cfg.example shows one)";
    return std::string(configuration) +
           " defines no source: it needs a [Source0] section with an ID (ZarmiteCLI lists "
           "the counters)";
}

}  // namespace

std::string SourceTrouble(const char* pluginPath, uint32_t sources) {
    void* library = plat_library_loaded(kCounterLibraryFileName);
    if (library == nullptr)
        return sources > 0 ? "" : "no source: " + BindFailureText(kStatusLoadFailed);
    const auto query =
        reinterpret_cast<CounterQueryEntry>(plat_library_symbol(library, kCounterQueryEntryName));
    std::string reason;
    if (query == nullptr) {
        reason = BindFailureText(kStatusNoQueryEntry);
    } else {
        typedef int32_t(COUNTER_CALL * CountEntry)(uint32_t*);
        const auto count =
            reinterpret_cast<CountEntry>(query(kCounterIdentifiers[kGetNumCountersPosition]));
        uint32_t counters = 0;
        const int32_t status = count != nullptr ? count(&counters) : kStatusNoQueryEntry;
        if (status != 0)
            reason = "the counter library " + LibraryPath(query) +
                     " is loaded but not started: status " + std::to_string(status);
        else if (counters == 0)
            reason = "the counter library " + LibraryPath(query) +
                     " gives no counter (the GPU library finds no GPU here?)";
        else if (sources == 0)
            reason = "no source: " + ConfigurationReason(pluginPath);
        if (!reason.empty() && sources > 0 && counters == 0)
            reason += ": every source fails";
        else if (!reason.empty() && sources == 0 && reason.compare(0, 10, "no source:") != 0)
            reason = "no source: " + reason;
    }
    plat_library_close(library);
    return reason;
}
