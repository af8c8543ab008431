#include "ensure_sources_loaded.h"

#include "ini_document.h"
#include "load_sources.h"
#include "module_state.h"

void EnsureSourcesLoaded() {
    if (g_sources.Count() > 0) return;
    char path[kSiblingPathCapacity];
    if (!ModuleSiblingPath(".cfg", path, sizeof path)) return;
    // One parse serves the sources and the settings.
    const IniDocument config = IniDocument::Load(path);
    LoadSourcesFrom(config);
    g_loggingLevel = config.GetInt("Settings", "LoggingLevel", 0);
}
