#include "module_state.h"

#include "platform.h"
#include "sibling_path.h"

int32_t g_loggingLevel = 0;
// Constructed before g_moduleHandle is recorded and destroyed at unload, when its
// destructor ends the counter library's use by this module.
CZarmiteDataSources g_sources;
void* g_moduleHandle = plat_module_handle_of(&g_loggingLevel);

bool ModuleSiblingPath(const char* extension, char* out, size_t capacity) {
    if (capacity > 0) out[0] = '\0';
    char modulePath[1024];
    if (!plat_module_path(g_moduleHandle, modulePath, sizeof modulePath)) return false;
    return sibling_path(modulePath, extension, out, capacity);
}
