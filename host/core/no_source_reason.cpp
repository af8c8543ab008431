#include "no_source_reason.h"

#include "bind_failure.h"
#include "counter_library.h"
#include "platform.h"
#include "readings.h"
#include "sibling_path.h"

std::string LoadedCounterLibrary() {
    std::string path = kCounterLibraryFileName;
    void* library = plat_library_loaded(kCounterLibraryFileName);
    if (library == nullptr) return path;
    const PlatFunction entry = plat_library_symbol(library, kCounterQueryEntryName);
    char found[1024];
    if (entry != nullptr &&
        plat_module_path(plat_module_handle_of(reinterpret_cast<const void*>(entry)), found,
                         sizeof found))
        path = found;
    plat_library_close(library);
    return path;
}

std::string NoSourceReason(const char* pluginPath) {
    void* library = plat_library_loaded(kCounterLibraryFileName);
    if (library == nullptr) return BindFailureText(kStatusLoadFailed);
    plat_library_close(library);
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

std::string NothingAddedReason(const std::vector<float>& firstRound) {
    if (firstRound.empty()) return "";
    for (float value : firstRound) {
        const char* failed = FailedReadingName(value);
        if (failed == nullptr || std::string(failed) != "add") return "";
    }
    return "no source could be added: the counter library " + LoadedCounterLibrary() +
           " has no counter of their IDs (none at all, where it finds no GPU; ZarmiteCLI "
           "lists them)";
}
