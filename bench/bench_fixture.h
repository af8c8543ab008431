// Shared set-up of the benchmarks: a folder with a copy of the real plug-in and a
// configuration of N sources beside it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "plugin_api.h"

// A configuration of `sources` sources over the simulated library's counters.
std::string BenchConfig(uint32_t sources, bool logging);

// Where the plug-in under test lies: ZARMITE_PLUGIN, or the one this build made.
std::string PluginUnderTest();

class PluginCopy {
public:
    // Copies `plugin` into a folder of its own with `config` beside it, and loads it.
    // Throws when it cannot be loaded.
    PluginCopy(const std::string& config, const std::string& name,
               const std::string& plugin = PluginUnderTest());
    ~PluginCopy();
    PluginCopy(const PluginCopy&) = delete;
    PluginCopy& operator=(const PluginCopy&) = delete;

    const PluginApi& Api() const { return api_; }
    std::filesystem::path Folder() const { return folder_; }

private:
    std::filesystem::path folder_;
    PluginApi api_{};
};
