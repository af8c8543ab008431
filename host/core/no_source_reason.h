// What keeps a plug-in's sources from reading anything, as the host says it once, whatever
// its output: no counter library found (where it was looked for, how to name one), a
// library that gives no counter (every source then fails), or a plug-in without a
// configuration, or with one that defines no source. The host looks only at what the
// plug-in has loaded: the counter library in this process, the configuration beside it.
#pragma once

#include <cstdint>
#include <string>

// "" where nothing is wrong that the host can tell; `sources`: what the plug-in offers.
std::string SourceTrouble(const char* pluginPath, uint32_t sources);
