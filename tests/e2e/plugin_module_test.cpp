// The plug-in module as a host sees it: loaded from a folder of its own beside its
// configuration, with the simulated counter library behind it. This executable exports
// GetHostAppID, as a monitoring host does.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform.h"
#include "plugin_module_fixture.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

TEST_F(PluginModule, NoConfigurationGivesNoSourcesAndIsReadAgainLater) {
    Load();
    EXPECT_EQ(api_.getSourcesNum(), 0u);
    HOST_SOURCE_DESC desc{};
    desc.version = kHostDescVersionWithGroup;
    EXPECT_EQ(api_.getSourceDesc(0, &desc), 0);
    EXPECT_EQ(api_.getSourceData(0), FLT_MAX);
    WriteConfig(kTwoSources);
    EXPECT_EQ(api_.getSourcesNum(), 2u);
}

TEST_F(PluginModule, DescriptorBeforeEnumerationLoadsTheConfiguration) {
    WriteConfig(kTwoSources);
    Load();
    HOST_SOURCE_DESC desc{};
    desc.version = kHostDescVersionWithGroup;
    ASSERT_EQ(api_.getSourceDesc(1, &desc), 1);
    EXPECT_STREQ(desc.name, "frame_time_us");
    EXPECT_STREQ(desc.units, "us");
    EXPECT_STREQ(desc.description, "Time taken to render the last frame, in microseconds");
    EXPECT_STREQ(desc.group, "");
    ASSERT_EQ(api_.getSourceDesc(0, &desc), 1);
    EXPECT_STREQ(desc.name, "GPU busy");
    EXPECT_STREQ(desc.units, "%");
    EXPECT_EQ(desc.maxLimit, 100.0f);
    EXPECT_EQ(desc.minLimit, 0.0f);
    EXPECT_EQ(desc.gridDim, 10.0f);
    EXPECT_STREQ(desc.group, "GPU");
}

TEST_F(PluginModule, OlderDescriptorsGetNoGroupAndNoByteFromOffset144On) {
    WriteConfig(kTwoSources);
    Load();
    unsigned char raw[sizeof(HOST_SOURCE_DESC) + 16];
    memset(raw, 0xAB, sizeof raw);
    HOST_SOURCE_DESC* desc = reinterpret_cast<HOST_SOURCE_DESC*>(raw);
    desc->version = 0x00010001;
    ASSERT_EQ(api_.getSourceDesc(0, desc), 1);
    EXPECT_STREQ(desc->name, "GPU busy");
    for (size_t i = offsetof(HOST_SOURCE_DESC, group); i < sizeof raw; ++i)
        ASSERT_EQ(raw[i], 0xAB) << "byte " << i;

    desc->version = kHostDescVersionWithGroup;
    ASSERT_EQ(api_.getSourceDesc(0, desc), 1);
    EXPECT_STREQ(desc->group, "GPU");
    for (size_t i = sizeof(HOST_SOURCE_DESC); i < sizeof raw; ++i) ASSERT_EQ(raw[i], 0xAB);
}

TEST_F(PluginModule, AnIndexPastTheEndLeavesTheDescriptorUntouched) {
    WriteConfig(kTwoSources);
    Load();
    HOST_SOURCE_DESC desc;
    memset(&desc, 0x5A, sizeof desc);
    desc.version = kHostDescVersionWithGroup;
    HOST_SOURCE_DESC before = desc;
    EXPECT_EQ(api_.getSourceDesc(2, &desc), 0);
    EXPECT_EQ(api_.getSourceDesc(0xFFFFFFFFu, &desc), 0);
    EXPECT_EQ(memcmp(&desc, &before, sizeof desc), 0);
    EXPECT_EQ(api_.getSourceDesc(0, nullptr), 0);
}

TEST_F(PluginModule, OnlyCapabilityOneIsOffered) {
    Load();
    uint32_t value = 77;
    EXPECT_EQ(api_.getSourceCaps(12345, 1, &value), 1);
    EXPECT_EQ(value, 1u);
    value = 77;
    EXPECT_EQ(api_.getSourceCaps(0, 0, &value), 0);
    EXPECT_EQ(api_.getSourceCaps(0, 2, &value), 0);
    EXPECT_EQ(value, 77u);
    EXPECT_EQ(api_.getSourceCaps(0, 1, nullptr), 0);
}

TEST_F(PluginModule, PollsReturnLiveValuesAndNoSourceValuesPastTheEnd) {
    WriteConfig(kTwoSources);
    Load();
    EXPECT_EQ(api_.getSourceData(0), FLT_MAX);  // enumeration has not loaded anything yet
    ASSERT_EQ(api_.getSourcesNum(), 2u);
    const float busy = api_.getSourceData(0);
    EXPECT_GE(busy, 1.0f);
    EXPECT_LE(busy, 100.0f);
    EXPECT_GE(api_.getSourceData(1), 16600.0f);
    EXPECT_EQ(api_.getSourceData(2), FLT_MAX);
}

TEST_F(PluginModule, AConfigurationOnceLoadedStaysUntilTheModuleIsReloaded) {
    WriteConfig(kTwoSources);
    Load();
    ASSERT_EQ(api_.getSourcesNum(), 2u);
    std::filesystem::remove(dir_.Path("Zarmite.cfg"));
    EXPECT_EQ(api_.getSourcesNum(), 2u);

    // A module unloaded and loaded again starts afresh: the list is empty and the
    // configuration is read again.
    WriteConfig("[Source0]\nID=3\n");
    Unload();
    Load();
    EXPECT_EQ(api_.getSourcesNum(), 1u);
}

TEST_F(PluginModule, TheLogFollowsEveryEnumerationAndPoll) {
    WriteConfig("[Settings]\nLoggingLevel=1\n[Source0]\nID=0\nName=GPU busy\n");
    Load();
    api_.getSourcesNum();
    api_.getSourcesNum();
    const float value = api_.getSourceData(0);
    EXPECT_EQ(api_.getSourceData(9), FLT_MAX);

    const std::string log = dir_.Read("Zarmite.log");
    // Only what followed the latest enumeration is kept.
    const char* expected[] = {"GetSourcesNum() called", "1 returned",
                              "GetSourceData(0) - GPU busy -  ", "GetSourceData(9) -  -  "};
    size_t position = 0;
    for (const char* message : expected) {
        size_t end = log.find("\r\n", position);
        ASSERT_NE(end, std::string::npos) << log;
        const std::string line = log.substr(position, end - position);
        EXPECT_EQ(line.substr(25, strlen(message)), message) << line;
        position = end + 2;
    }
    EXPECT_EQ(position, log.size()) << log;
    char valueText[32];
    snprintf(valueText, sizeof valueText, "%f", static_cast<double>(value));
    EXPECT_NE(log.find(std::string("GPU busy -  ") + valueText + "\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("GetSourceData(9) -  -  340282346638528859811704183484516925440.000000\r\n"),
              std::string::npos);

    // A poll appends even when the log has gone: it is created again.
    std::filesystem::remove(dir_.Path("Zarmite.log"));
    api_.getSourceData(0);
    EXPECT_NE(dir_.Read("Zarmite.log").find("GetSourceData(0)"), std::string::npos);
}

TEST_F(PluginModule, NoLogWithLoggingOffOrUnset) {
    for (const char* config :
         {"[Settings]\nLoggingLevel=0\n[Source0]\nID=0\n", "[Source0]\nID=0\n"}) {
        WriteConfig(config);
        Load();
        api_.getSourcesNum();
        api_.getSourceData(0);
        Unload();
        EXPECT_FALSE(dir_.Exists("Zarmite.log")) << config;
    }
}

TEST_F(PluginModule, AModulePathWithNoRoomForItsSiblingsReadsAndWritesNothing) {
#if defined(_WIN32)
    GTEST_SKIP() << "a Windows module path cannot be longer than its siblings' limit";
#else
    // Zarmite.so at exactly 259 characters: Zarmite.cfg would need 260.
    std::string folder = dir_.Path("");
    while (!folder.empty() && folder.back() == '/') folder.pop_back();
    const size_t room = 259 - strlen("/Zarmite.so");
    while (folder.size() < room) folder += "/d";
    folder = folder.substr(0, room);
    if (folder.back() == '/') folder.back() = 'e';
    std::filesystem::create_directories(folder);
    const std::string cfgBeside = folder + "/Zarmite.cfg";
    std::ofstream(cfgBeside) << "[Settings]\nLoggingLevel=1\n[Source0]\nID=0\n";
    Load(folder);
    ASSERT_EQ(modulePath_.size(), 259u);
    const auto moduleSize = std::filesystem::file_size(modulePath_);
    EXPECT_EQ(api_.getSourcesNum(), 0u);
    EXPECT_EQ(api_.getSourceData(0), FLT_MAX);
    EXPECT_EQ(std::filesystem::file_size(modulePath_), moduleSize);
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        files += entry.is_regular_file();
    EXPECT_EQ(files, 2u);  // the module and the configuration, nothing written
#endif
}

}  // namespace

namespace {

TEST_F(PluginModule, AConfigurationThatIsNoFileGivesNoSources) {
    std::filesystem::create_directories(dir_.Path("Zarmite.cfg"));
    Load();
    EXPECT_EQ(api_.getSourcesNum(), 0u);
}

#if !defined(_WIN32)
TEST_F(PluginModule, AConfigurationThatIsANamedPipeDoesNotBlockTheHost) {
    ASSERT_EQ(mkfifo(dir_.Path("Zarmite.cfg").c_str(), 0600), 0);
    Load();
    EXPECT_EQ(api_.getSourcesNum(), 0u);  // opening it for reading would wait for a writer
}

TEST_F(PluginModule, AnUnwritableFolderLosesTheLogButNotTheValues) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes into any folder";
    WriteConfig("[Settings]\nLoggingLevel=1\n[Source0]\nID=0\n");
    Load();
    std::filesystem::permissions(dir_.Path(""), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    EXPECT_EQ(api_.getSourcesNum(), 1u);
    EXPECT_LT(api_.getSourceData(0), 100.5f);
    std::filesystem::permissions(dir_.Path(""), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    EXPECT_FALSE(dir_.Exists("Zarmite.log"));
}
#endif

TEST_F(PluginModule, ALogHeldByAnotherWriterIsSkippedAndPollsGoOn) {
    WriteConfig("[Settings]\nLoggingLevel=1\n[Source0]\nID=0\n");
    Load();
    ASSERT_EQ(api_.getSourcesNum(), 1u);
    const std::string before = dir_.Read("Zarmite.log");
    intptr_t held = plat_log_file_open(dir_.Path("Zarmite.log").c_str(), true);
    ASSERT_NE(held, -1);
    const float value = api_.getSourceData(0);
    EXPECT_GE(value, 1.0f);
    EXPECT_LE(value, 100.0f);
#if defined(_WIN32)
    EXPECT_EQ(dir_.Read("Zarmite.log"), before);  // the other writer keeps it to itself
#endif
    plat_log_file_close(held);
    api_.getSourceData(0);
    EXPECT_NE(dir_.Read("Zarmite.log").find("GetSourceData(0)"), std::string::npos);
}

}  // namespace
