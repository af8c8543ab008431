// A plug-in module loaded as a host loads it: copied into a folder of its own beside its
// configuration, with the simulated counter library behind it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "plugin_api.h"
#include "temp_dir.h"

inline const char kTwoSources[] =
    "[Settings]\nLoggingLevel=0\n"
    "[Source0]\nID=0\nName=GPU busy\nMaxLimit=100\nGridDim=10\nGroup=GPU\n"
    "[Source1]\nID=7\nDim=us\n";

class PluginModule : public ::testing::Test {
protected:
    void TearDown() override { Unload(); }

    std::string ModuleName() const {
        return std::filesystem::path(ZARMITE_PLUGIN_PATH).filename().string();
    }

    // Copies the plug-in into `folder` (UTF-8; by default the test's own) under `name` (by
    // default its own) and loads it there.
    void Load(const std::string& folder = "", const std::string& name = "") {
        const std::filesystem::path target =
            folder.empty() ? std::filesystem::path(dir_.Path("")) : std::filesystem::u8path(folder);
        const std::filesystem::path module =
            target / std::filesystem::u8path(name.empty() ? ModuleName() : name);
        modulePath_ = module.u8string();
        std::filesystem::copy_file(ZARMITE_PLUGIN_PATH, module,
                                   std::filesystem::copy_options::overwrite_existing);
        LoadFrom(modulePath_);
    }
    // Loads the plug-in by this path, as it stands.
    void LoadFrom(const std::string& path) {
        char error[600];
        ASSERT_TRUE(LoadPlugin(path.c_str(), &api_, error, sizeof error)) << error;
    }
    void Unload() {
        if (api_.library != nullptr) UnloadPlugin(&api_);
    }
    void WriteConfig(const std::string& text) { dir_.Write("Zarmite.cfg", text); }

    TempDir dir_;
    PluginApi api_{};
    std::string modulePath_;
};
