#include "plugin_api.h"

#include <cstdio>

#include "platform.h"

namespace {
template <typename Function>
bool Resolve(PluginApi* api, const char* name, Function* out, char* error, size_t capacity) {
    *out = reinterpret_cast<Function>(plat_library_symbol(api->library, name));
    if (*out == nullptr) snprintf(error, capacity, "the plug-in has no export %s", name);
    return *out != nullptr;
}
}  // namespace

bool LoadPlugin(const char* path, PluginApi* api, char* error, size_t errorCapacity) {
    *api = PluginApi{};
    api->library = plat_library_open_file(path);
    if (api->library == nullptr) {
        snprintf(error, errorCapacity, "cannot load the plug-in: %s", plat_library_error());
        return false;
    }
    if (Resolve(api, "GetSourcesNum", &api->getSourcesNum, error, errorCapacity) &&
        Resolve(api, "GetSourceDesc", &api->getSourceDesc, error, errorCapacity) &&
        Resolve(api, "GetSourceCaps", &api->getSourceCaps, error, errorCapacity) &&
        Resolve(api, "GetSourceData", &api->getSourceData, error, errorCapacity)) {
        return true;
    }
    UnloadPlugin(api);
    return false;
}

void UnloadPlugin(PluginApi* api) {
    plat_library_close(api->library);
    *api = PluginApi{};
}
