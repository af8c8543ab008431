// Configurations no one should write, and that must still load soundly.
#include <chrono>
#include <string>

#include "plugin_fixture.h"
#include "sample_source.h"

namespace {

using namespace std::string_literals;

class BadConfigurationTest : public PluginTest {
protected:
    void SetUp() override {
        fake_.counters = {{"zero", "first", 1, 5, 1}, {"one", "second", 0, 1, 2}};
    }
};

TEST_F(BadConfigurationTest, BinaryGarbageAroundAValidSectionIsIgnored) {
    std::string garbage;
    for (int i = 0; i < 4096; ++i) garbage.push_back(static_cast<char>((i * 131 + 7) % 256));
    ASSERT_EQ(Load(garbage + "\n[Source0]\nID=1\0ignored\nName=A\xff\xfe\n"s + garbage), 1);
    ASSERT_EQ(g_sources.Count(), 1u);
    EXPECT_STREQ(Source(0).id, "1");
    EXPECT_STREQ(Source(0).name, "A\xff\xfe");
}

TEST_F(BadConfigurationTest, AOneMebibyteLineIsReadAndCut) {
    const std::string huge(1 << 20, 'h');
    ASSERT_EQ(Load(huge + "\n[Source0]\nID=0\nName=" + huge + "\nMaxLimit=" + huge + "\n"), 1);
    ASSERT_EQ(g_sources.Count(), 1u);
    EXPECT_EQ(std::string(Source(0).name), std::string(31, 'h'));
    EXPECT_EQ(Source(0).maxLimit, 0.0f);
}

TEST_F(BadConfigurationTest, ANegativeIdAsksTheLibraryAndFailsToAdd) {
    ASSERT_EQ(Load("[Source0]\nID=-1\n"), 1);
    EXPECT_STREQ(Source(0).name, "Unknown");
    EXPECT_STREQ(Source(0).units, "?");
    EXPECT_EQ(SampleSource(0), kAddFailedValue);
    EXPECT_EQ(fake_.CountCalls("AddCounter -1"), 1);
}

TEST_F(BadConfigurationTest, AHundredThousandSourcesLoadAndTheLastOneSamples) {
    std::string config;
    config.reserve(100000 * 24);
    for (int i = 0; i < 100000; ++i)
        config += "[Source" + std::to_string(i) + "]\nID=" + std::to_string(i % 2) + "\n";
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Load(config), 1);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(g_sources.Count(), 100000u);
    EXPECT_STREQ(Source(99999).name, "one");
    EXPECT_EQ(SampleSource(99999), 50.0f);
    EXPECT_EQ(SampleSource(100000), kNoSourceValue);
    // Generous: a sanitizer build under an emulator is many times slower than the figure
    // the benchmark reports.
    EXPECT_LT(std::chrono::duration<double>(elapsed).count(), 20.0);
}

}  // namespace
