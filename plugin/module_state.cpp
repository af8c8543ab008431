#include "module_state.h"

#include <cstring>

#include "platform.h"
#include "sibling_path.h"

namespace {

// The module's own absolute path, taken once when the module is loaded: a relative path
// would name other files once the host changes its current folder. Empty when the path
// could not be found.
struct ModulePath {
    char text[1024];
};

ModulePath RecordModulePath(void* moduleHandle) {
    ModulePath path;
    if (!plat_module_path(moduleHandle, path.text, sizeof path.text)) path.text[0] = '\0';
    return path;
}

}  // namespace

int32_t g_loggingLevel = 0;
// Constructed before g_moduleHandle is recorded and destroyed at unload, when its
// destructor ends the counter library's use by this module.
CZarmiteDataSources g_sources;
void* g_moduleHandle = plat_module_handle_of(&g_loggingLevel);
static const ModulePath g_modulePath = RecordModulePath(g_moduleHandle);

bool ModuleSiblingPath(const char* extension, char* out, size_t capacity) {
    if (capacity > 0) out[0] = '\0';
    if (g_modulePath.text[0] == '\0') return false;
    // The UTF-8 form may be longer than the limit, which counts the platform's own units.
    char sibling[sizeof g_modulePath.text];
    if (!sibling_path(g_modulePath.text, extension, sibling, sizeof sibling) ||
        plat_path_units(sibling) > kMaxSiblingPath || strlen(sibling) + 1 > capacity)
        return false;
    // A module named like its own configuration or log: reading it would make no sense,
    // writing it would destroy the code the host is running.
    if (plat_same_path(sibling, g_modulePath.text)) return false;
    memcpy(out, sibling, strlen(sibling) + 1);
    return true;
}
