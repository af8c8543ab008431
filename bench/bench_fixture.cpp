#include "bench_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

std::string BenchConfig(uint32_t sources, bool logging) {
    std::string text = std::string("[Settings]\nLoggingLevel=") + (logging ? "1" : "0") + "\n";
    text.reserve(sources * 64);
    for (uint32_t i = 0; i < sources; ++i) {
        text += "[Source" + std::to_string(i) + "]\nID=" + std::to_string(i % 14) +
                "\nMaxLimit=100\nGridDim=10\nModType=" + std::to_string(i % 7) + "\nModFactor=2\n";
    }
    return text;
}

std::string PluginUnderTest() {
    const char* path = getenv("ZARMITE_PLUGIN");
    return path != nullptr ? path : ZARMITE_PLUGIN_PATH;
}

PluginCopy::PluginCopy(const std::string& config, const std::string& name,
                       const std::string& plugin)
    : folder_(std::filesystem::temp_directory_path() / ("zarmite-bench-" + name)) {
    std::filesystem::create_directories(folder_);
    const std::filesystem::path module = folder_ / std::filesystem::path(plugin).filename();
    std::filesystem::copy_file(plugin, module, std::filesystem::copy_options::overwrite_existing);
    std::ofstream(folder_ / "Zarmite.cfg", std::ios::binary) << config;
    char error[600];
    if (!LoadPlugin(module.string().c_str(), &api_, error, sizeof error))
        throw std::runtime_error(error);
}

PluginCopy::~PluginCopy() {
    UnloadPlugin(&api_);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}
