// Shared set-up of the benchmarks: a folder with a copy of the real plug-in and a
// configuration of N sources beside it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "plugin_api.h"

// A configuration of `sources` sources over the simulated library's counters.
std::string BenchConfig(uint32_t sources, bool logging);

class PluginCopy {
public:
    // Copies the plug-in into a folder of its own with `config` beside it, and loads it.
    PluginCopy(const std::string& config, const std::string& name);
    ~PluginCopy();
    PluginCopy(const PluginCopy&) = delete;
    PluginCopy& operator=(const PluginCopy&) = delete;

    const PluginApi& Api() const { return api_; }
    std::filesystem::path Folder() const { return folder_; }

private:
    std::filesystem::path folder_;
    PluginApi api_{};
};

// Where the plug-in under test lies: ZARMITE_PLUGIN, or the one this build made.
std::string PluginUnderTest();
