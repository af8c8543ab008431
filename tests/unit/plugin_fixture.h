// A plug-in test: an in-process fake counter library, a configuration file written for
// the test, and g_sources emptied again afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "fake_counter_library.h"
#include "load_sources.h"
#include "module_state.h"
#include "temp_dir.h"

class PluginTest : public ::testing::Test {
protected:
    void TearDown() override {
        ClearSources();
        g_loggingLevel = 0;
    }

    // Writes `text` as the configuration and loads it.
    int Load(const std::string& text) {
        configPath_ = dir_.Write("Zarmite.cfg", text);
        return LoadSources(configPath_.c_str());
    }

    const ZARMITE_DATA_SOURCE_DESC& Source(int64_t position) {
        const ZARMITE_DATA_SOURCE_DESC* source = g_sources.At(position);
        if (source == nullptr) {
            ADD_FAILURE() << "no source at " << position;
            static ZARMITE_DATA_SOURCE_DESC none{};
            return none;
        }
        return *source;
    }

    FakeCounterLibrary fake_;
    TempDir dir_;
    std::string configPath_;
};
