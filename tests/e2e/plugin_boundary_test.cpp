// The plug-in where a host or a user does what nobody planned: renames it, loads it by a
// relative path and moves on, keeps it in a folder with a non-Latin name, or calls it from
// several threads at once.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "plugin_module_fixture.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace {

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The two sources with the log switched on.
std::string TwoSourcesLogged() {
    std::string config = kTwoSources;
    config.replace(config.find("LoggingLevel=0"), 14, "LoggingLevel=1");
    return config;
}

void WriteAll(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST_F(PluginModule, AModuleNamedLikeItsLogOrConfigurationNeverTouchesItself) {
    WriteConfig("[Settings]\nLoggingLevel=1\n[Source0]\nID=0\n");
    const std::string original = ReadAll(ZARMITE_PLUGIN_PATH);

    // Named like its log: the configuration beside it is read, but the log would be the
    // module itself, which the host is running.
    Load("", "Zarmite.log");
    EXPECT_EQ(api_.getSourcesNum(), 1u);
    EXPECT_LE(api_.getSourceData(0), 100.0f);
    EXPECT_EQ(ReadAll(std::filesystem::u8path(modulePath_)), original);
    Unload();

    // Named like its configuration: the module is not read as one.
    std::filesystem::remove(dir_.Path("Zarmite.cfg"));
    Load("", "Zarmite.cfg");
    EXPECT_EQ(api_.getSourcesNum(), 0u);
    EXPECT_EQ(ReadAll(std::filesystem::u8path(modulePath_)), original);
}

TEST_F(PluginModule, FoldersWithCyrillicAndCjkNamesFindTheirConfigurationAndLog) {
    for (const char* name : {"\xD0\x9F\xD0\xBE\xD0\xBB\xD1\x8C\xD0\xB7\xD0\xBE\xD0\xB2\xD0\xB0"
                             "\xD1\x82\xD0\xB5\xD0\xBB\xD1\x8C",  // Пользователь
                             "\xE7\x94\xA8\xE6\x88\xB7"}) {       // 用户
        const std::filesystem::path folder =
            std::filesystem::path(dir_.Path("")) / std::filesystem::u8path(name);
        std::filesystem::create_directories(folder);
        WriteAll(folder / "Zarmite.cfg", TwoSourcesLogged());
        Load(folder.u8string());
        EXPECT_EQ(api_.getSourcesNum(), 2u) << name;
        api_.getSourceData(0);
        EXPECT_NE(ReadAll(folder / "Zarmite.log").find("GetSourceData(0) - GPU busy"),
                  std::string::npos)
            << name;
        Unload();
    }
}

#if !defined(_WIN32)
// Puts the process in another current folder for the test's duration.
class CurrentFolder {
public:
    explicit CurrentFolder(const std::filesystem::path& folder)
        : saved_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~CurrentFolder() { std::filesystem::current_path(saved_); }

private:
    std::filesystem::path saved_;
};

TEST_F(PluginModule, AHostThatChangesFolderAfterLoadingByARelativePathStillReadsBesideTheModule) {
    WriteConfig(TwoSourcesLogged());
    TempDir elsewhere;
    elsewhere.Write("Zarmite.cfg", "[Source0]\nID=1\n");
    std::filesystem::copy_file(ZARMITE_PLUGIN_PATH, dir_.Path(ModuleName()));
    {
        CurrentFolder inModuleFolder(dir_.Path(""));
        LoadFrom("./" + ModuleName());
    }
    CurrentFolder moved(elsewhere.Path(""));
    EXPECT_EQ(api_.getSourcesNum(), 2u);
    EXPECT_TRUE(dir_.Exists("Zarmite.log"));
    EXPECT_FALSE(elsewhere.Exists("Zarmite.log"));
}

TEST_F(PluginModule, ALinkToTheModuleReadsTheConfigurationBesideTheLink) {
    TempDir install;
    install.Write("Zarmite.cfg", "[Source0]\nID=1\n");
    std::filesystem::copy_file(ZARMITE_PLUGIN_PATH, install.Path(ModuleName()));
    WriteConfig(kTwoSources);
    const std::string link = dir_.Path(ModuleName());
    std::filesystem::create_symlink(install.Path(ModuleName()), link);
    LoadFrom(link);
    EXPECT_EQ(api_.getSourcesNum(), 2u);
}
#endif

TEST_F(PluginModule, CallsFromSeveralThreadsAtOnceAreServedOneAfterAnother) {
    WriteConfig(kTwoSources);
    Load();
    // The first calls race to load the configuration; every one must see it whole.
    constexpr int kThreads = 6;
    constexpr int kRounds = 150;
    std::vector<std::thread> threads;
    std::vector<int> faults(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t, &faults] {
            for (int round = 0; round < kRounds; ++round) {
                const uint32_t index = static_cast<uint32_t>((round + t) % 2);
                HOST_SOURCE_DESC desc{};
                desc.version = kHostDescVersionWithGroup;
                if (api_.getSourcesNum() != 2u) ++faults[t];
                if (api_.getSourceDesc(index, &desc) != 1) ++faults[t];
                if (strcmp(desc.name, index == 0 ? "GPU busy" : "frame_time_us") != 0) ++faults[t];
                if (api_.getSourceData(index) == FLT_MAX) ++faults[t];
                uint32_t capability = 0;
                if (api_.getSourceCaps(index, 1, &capability) != 1) ++faults[t];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(faults[t], 0) << "thread " << t;
    EXPECT_EQ(api_.getSourcesNum(), 2u);
}

}  // namespace
