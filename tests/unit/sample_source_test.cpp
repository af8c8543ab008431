#include "sample_source.h"

#include <cstring>

#include "plugin_fixture.h"

namespace {

uint32_t Bits(float value) {
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    return bits;
}

class SampleSourceTest : public PluginTest {
protected:
    void SetUp() override {
        fake_.counters = {
            {"percent", "", 0, 50, 200},
            {"raw", "", 1, 42, 600},
            {"idle", "", 0, 7, 0},
        };
    }
    // One source on counter `id` with the given modification.
    float SampleWith(const std::string& id, const std::string& modType, const std::string& factor) {
        Load("[Source0]\nID=" + id + "\nModType=" + modType + "\nModFactor=" + factor + "\n");
        return SampleSource(0);
    }
};

TEST_F(SampleSourceTest, FailureValuesHaveTheirExactBits) {
    EXPECT_EQ(Bits(kNoSourceValue), 0x7F7FFFFFu);
    EXPECT_EQ(Bits(kBindFailedValue), 0x3DCCCCCDu);
    EXPECT_EQ(Bits(kAddFailedValue), 0x3E4CCCCDu);
    EXPECT_EQ(Bits(kSampleFailedValue), 0x3E99999Au);
    EXPECT_EQ(Bits(kValueFailedValue), 0x3ECCCCCDu);
}

TEST_F(SampleSourceTest, EachFailingStepHasItsValue) {
    Load("[Source0]\nID=0\n");
    EXPECT_EQ(SampleSource(1), kNoSourceValue);
    EXPECT_EQ(SampleSource(0xFFFFFFFFu), kNoSourceValue);

    fake_.failures["GetCounterValue"] = 9;
    EXPECT_EQ(SampleSource(0), kValueFailedValue);
    fake_.failures["Sample"] = 9;
    EXPECT_EQ(SampleSource(0), kSampleFailedValue);
    fake_.failures["AddCounter"] = 9;
    EXPECT_EQ(SampleSource(0), kAddFailedValue);
    // The configuration loaded, but binding at sample time fails.
    fake_.initializeResult = -1;
    EXPECT_EQ(SampleSource(0), kBindFailedValue);
}

TEST_F(SampleSourceTest, BeforeTheConfigurationIsLoadedNoIndexHasASource) {
    EXPECT_EQ(SampleSource(0), kNoSourceValue);
    EXPECT_EQ(fake_.loads, 0);
}

TEST_F(SampleSourceTest, EveryPollBindsAddsSamplesAndReads) {
    Load("[Source0]\nID=1\n");
    fake_.calls.clear();
    EXPECT_EQ(SampleSource(0), 42.0f);
    EXPECT_EQ(fake_.calls,
              (std::vector<std::string>{"Initialize", "AddCounter 1", "Sample",
                                        "GetCounterValue 1 0", "GetCounterAttribute 1 2"}));
}

TEST_F(SampleSourceTest, AnIdThatNamesNoCounterGivesTheAddFailureWithoutTheLibrary) {
    Load("[Source0]\nID=abc\n");
    fake_.calls.clear();
    EXPECT_EQ(SampleSource(0), kAddFailedValue);
    EXPECT_TRUE(fake_.calls.empty());
}

TEST_F(SampleSourceTest, PercentagesAndModifications) {
    struct Case {
        const char* id;
        const char* modType;
        const char* factor;
        float expected;
    } cases[] = {
        {"0", "0", "0", 25.0f},   {"0", "2", "10", 2.5f},   {"0", "1", "2", 50.0f},
        {"0", "3", "50", 2.0f},   {"0", "4", "5", 30.0f},   {"0", "5", "5", 20.0f},
        {"0", "6", "5", -20.0f},  {"0", "7", "5", 25.0f},   {"0", "-1", "5", 25.0f},
        {"0", "2", "0", 0.0f},    {"0", "2", "-3", 0.0f},   {"2", "4", "5", 0.0f},
        {"1", "1", "0.5", 21.0f}, {"0", "abc", "5", 25.0f},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SampleWith(c.id, c.modType, c.factor), c.expected)
            << "ID " << c.id << " ModType " << c.modType << " ModFactor " << c.factor;
    }
}

TEST_F(SampleSourceTest, ReciprocalOfAZeroReadingIsZero) {
    fake_.counters[1].value = 0;
    EXPECT_EQ(SampleWith("1", "3", "10"), 0.0f);
}

TEST_F(SampleSourceTest, FailedAttributeQueryReturnsTheRawValueUnmodified) {
    fake_.failures["GetCounterAttribute"] = 4;
    EXPECT_EQ(SampleWith("0", "1", "2"), 50.0f);
}

TEST_F(SampleSourceTest, ReadingsRoundToTheNearestFloat) {
    fake_.counters[1].value = uint64_t{1} << 40;
    EXPECT_EQ(SampleWith("1", "0", "0"), 1099511627776.0f);
    fake_.counters[1].value = (uint64_t{1} << 24) + 1;
    EXPECT_EQ(SampleWith("1", "0", "0"), 16777216.0f);
    fake_.counters[1].value = (uint64_t{1} << 24) + 3;
    EXPECT_EQ(SampleWith("1", "0", "0"), 16777220.0f);
    fake_.counters[1].value = UINT64_MAX;
    EXPECT_EQ(SampleWith("1", "0", "0"), 18446744073709551616.0f);

    // The percentage is formed in double precision and rounded once.
    fake_.counters[0].value = 1;
    fake_.counters[0].cycle = 3;
    EXPECT_EQ(Bits(SampleWith("0", "0", "0")), Bits(static_cast<float>(1.0 / 3.0 * 100.0)));
    // The modification works on 32-bit floats: 16777216 + 1 stays 16777216.
    fake_.counters[1].value = uint64_t{1} << 24;
    EXPECT_EQ(SampleWith("1", "4", "1"), 16777216.0f);
}

TEST_F(SampleSourceTest, CountersAddedBySamplingStayUntilTheNextLoad) {
    Load("[Source0]\nID=0\n[Source1]\nID=1\n");
    SampleSource(0);
    SampleSource(1);
    EXPECT_EQ(fake_.added.size(), 2u);
    EXPECT_EQ(fake_.CountCalls("RemoveAllCounters"), 0);
}

}  // namespace
