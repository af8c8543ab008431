#include <string>

#include "platform.h"
#include "plugin_fixture.h"

namespace {

class LoadSourcesTest : public PluginTest {
protected:
    void SetUp() override {
        fake_.counters = {
            {"gpu_busy", "Graphics engine busy", 0},
            {"draw_calls", "Draw calls per frame", 1},
            {std::string(40, 'n'), std::string(80, 'd'), 1},
        };
    }
};

TEST_F(LoadSourcesTest, ConfiguredTextsWinAndMissingOnesComeFromTheLibrary) {
    ASSERT_EQ(Load("[Source0]\nID=0\nName=GPU busy\nDim=pct\nMaxLimit=100\nMinLimit=-5.5\n"
                   "GridDim=10\nGroup=GPU\nModType=2\nModFactor=8\n"
                   "[Source1]\nID=1\n"),
              1);
    ASSERT_EQ(g_sources.Count(), 2u);
    const ZARMITE_DATA_SOURCE_DESC& first = Source(0);
    EXPECT_STREQ(first.id, "0");
    EXPECT_STREQ(first.name, "GPU busy");
    EXPECT_STREQ(first.units, "pct");
    EXPECT_STREQ(first.description, "Graphics engine busy");
    EXPECT_STREQ(first.group, "GPU");
    EXPECT_EQ(first.maxLimit, 100.0f);
    EXPECT_EQ(first.minLimit, -5.5f);
    EXPECT_EQ(first.gridDim, 10.0f);
    EXPECT_EQ(first.modType, 2);
    EXPECT_EQ(first.modFactor, 8.0f);

    const ZARMITE_DATA_SOURCE_DESC& second = Source(1);
    EXPECT_STREQ(second.name, "draw_calls");
    EXPECT_STREQ(second.units, "Raw");
    EXPECT_STREQ(second.group, "");
    EXPECT_EQ(second.maxLimit, 0.0f);
    EXPECT_EQ(second.modType, 0);
    // The library is asked with the full buffer, and nothing is added to its sampling set.
    EXPECT_EQ(fake_.CountCalls("GetCounterName 1 200"), 1);
    EXPECT_EQ(fake_.CountCalls("GetCounterDescription 0 200"), 1);
    EXPECT_EQ(fake_.CountCalls("AddCounter"), 0);
}

TEST_F(LoadSourcesTest, UnitsFollowTheCounterKind) {
    fake_.failures["GetCounterAttribute"] = 5;
    ASSERT_EQ(Load("[Source0]\nID=0\n"), 1);
    EXPECT_STREQ(Source(0).units, "?");
    fake_.failures.clear();
    ASSERT_EQ(Load("[Source0]\nID=0\n[Source1]\nID=1\n"), 1);
    EXPECT_STREQ(Source(0).units, "%");
    EXPECT_STREQ(Source(1).units, "Raw");
}

TEST_F(LoadSourcesTest, TheListEndsAtTheFirstSectionWithoutAnId) {
    struct Case {
        const char* config;
        size_t sources;
    } cases[] = {
        {"[Source0]\nID=0\n[Source2]\nID=1\n", 1},
        {"[Source0]\nID=\n[Source1]\nID=1\n", 0},
        {"[Source0]\nName=x\n[Source1]\nID=1\n", 0},
        {"[Source1]\nID=1\n", 0},
        {"", 0},
        {"[Source0]\nID=0\n[Source1]\nID=0\n", 2},  // the same counter twice
    };
    for (const Case& c : cases) {
        Load(c.config);
        EXPECT_EQ(g_sources.Count(), c.sources) << c.config;
    }
}

TEST_F(LoadSourcesTest, TextsAreCutToTheirFields) {
    ASSERT_EQ(Load("[Source0]\nID=2\n[Source1]\nID=2\nName=" + std::string(40, 'N') +
                   "\nDim=" + std::string(40, 'U') + "\nGroup=" + std::string(20, 'G') + "\n" +
                   "[Source2]\nID=" + std::string(10, '1') + std::string(30, 'x') + "\n"),
              1);
    EXPECT_EQ(std::string(Source(0).name), std::string(31, 'n'));
    EXPECT_EQ(std::string(Source(0).description), std::string(63, 'd'));
    EXPECT_EQ(std::string(Source(1).name), std::string(31, 'N'));
    EXPECT_EQ(std::string(Source(1).units), std::string(31, 'U'));
    EXPECT_EQ(std::string(Source(1).group), std::string(15, 'G'));
    EXPECT_EQ(std::string(Source(2).id), std::string(10, '1') + std::string(21, 'x'));
}

TEST_F(LoadSourcesTest, UTF8TextsAreCutBetweenCharacters) {
    // Eleven three-byte characters do not fit in 31 bytes: ten of them do, and where the
    // host's texts are UTF-8 no broken eleventh is kept.
    std::string cjk;
    for (int i = 0; i < 11; ++i) cjk += "\xE6\xB8\xA9";
    fake_.counters[0].description = std::string(62, 'd') + "\xC3\xA9";
    ASSERT_EQ(Load("[Source0]\nID=0\nName=" + cjk + "\nGroup=abcdefghijklm\xC3\xA9\n"), 1);
    const bool utf8 = plat_host_text_is_utf8();
    EXPECT_EQ(std::string(Source(0).name), cjk.substr(0, utf8 ? 30 : 31));
    EXPECT_EQ(std::string(Source(0).description),
              fake_.counters[0].description.substr(0, utf8 ? 62 : 63));
    EXPECT_EQ(std::string(Source(0).group), "abcdefghijklm\xC3\xA9")
        << "a whole character that fits stays";
}

TEST_F(LoadSourcesTest, UnterminatedLibraryTextsAreCut) {
    fake_.textsUnterminated = true;
    ASSERT_EQ(Load("[Source0]\nID=0\n"), 1);
    EXPECT_EQ(strlen(Source(0).name), 31u);
    EXPECT_EQ(strlen(Source(0).description), 63u);
}

TEST_F(LoadSourcesTest, FailedQueriesGiveUnknown) {
    fake_.failures["GetCounterName"] = 3;
    fake_.failures["GetCounterDescription"] = 3;
    ASSERT_EQ(Load("[Source0]\nID=0\n[Source1]\nID=9\n"), 1);  // 9: no such counter
    EXPECT_STREQ(Source(0).name, "Unknown");
    EXPECT_STREQ(Source(0).description, "Unknown");
    EXPECT_STREQ(Source(1).name, "Unknown");
    EXPECT_STREQ(Source(1).units, "?");
}

TEST_F(LoadSourcesTest, NumbersThatDoNotParseStayZero) {
    ASSERT_EQ(Load("[Source0]\nID=0\nMaxLimit=abc\nMinLimit=nan\nGridDim=1e39\nModType=x\n"
                   "ModFactor=inf\n[Source1]\nID=1\nMaxLimit=7.25xyz\nModType=3abc\n"
                   "ModFactor=99999999999\n[Source2]\nID=1\nModType=99999999999\n"),
              1);
    EXPECT_EQ(Source(0).maxLimit, 0.0f);
    EXPECT_EQ(Source(0).minLimit, 0.0f);
    EXPECT_EQ(Source(0).gridDim, 0.0f);
    EXPECT_EQ(Source(0).modType, 0);
    EXPECT_EQ(Source(0).modFactor, 0.0f);
    EXPECT_EQ(Source(1).maxLimit, 7.25f);
    EXPECT_EQ(Source(1).modType, 3);
    EXPECT_EQ(Source(1).modFactor, 99999999999.0f);
    EXPECT_EQ(Source(2).modType, 0);
}

TEST_F(LoadSourcesTest, AnIdThatNamesNoCounterKeepsItsPlaceWithoutAskingTheLibrary) {
    ASSERT_EQ(Load("[Source0]\nID=abc\n[Source1]\nID=99999999999\nName=Mine\nDim=V\n"
                   "[Source2]\nID=1\n"),
              1);
    ASSERT_EQ(g_sources.Count(), 3u);
    EXPECT_STREQ(Source(0).id, "abc");
    EXPECT_STREQ(Source(0).name, "Unknown");
    EXPECT_STREQ(Source(0).description, "Unknown");
    EXPECT_STREQ(Source(0).units, "?");
    EXPECT_STREQ(Source(1).name, "Mine");
    EXPECT_STREQ(Source(1).units, "V");
    EXPECT_STREQ(Source(2).name, "draw_calls");
    EXPECT_EQ(fake_.CountCalls("GetCounterName"), 1);
    EXPECT_EQ(fake_.CountCalls("GetCounterDescription"), 1);
}

TEST_F(LoadSourcesTest, BindFailureLeavesTheListEmpty) {
    ASSERT_EQ(Load("[Source0]\nID=0\n"), 1);
    fake_.initializeResult = -4;
    EXPECT_EQ(Load("[Source0]\nID=0\n"), 0);
    EXPECT_EQ(g_sources.Count(), 0u);
}

TEST_F(LoadSourcesTest, LoadingClearsFirstAndClearingEndsTheLibrarysUse) {
    ASSERT_EQ(Load("[Source0]\nID=0\n"), 1);
    fake_.calls.clear();
    ASSERT_EQ(Load("[Source0]\nID=1\n"), 1);
    ASSERT_GE(fake_.calls.size(), 3u);
    EXPECT_EQ(fake_.calls[0], "RemoveAllCounters");
    EXPECT_EQ(fake_.calls[1], "Shutdown");
    EXPECT_EQ(fake_.calls[2], "Initialize");
    EXPECT_STREQ(Source(0).name, "draw_calls");
}

TEST_F(LoadSourcesTest, PositionLookupRefusesEveryPositionOutsideTheList) {
    ASSERT_EQ(Load("[Source0]\nID=0\n[Source1]\nID=1\n"), 1);
    EXPECT_NE(g_sources.At(1), nullptr);
    EXPECT_EQ(g_sources.At(2), nullptr);
    EXPECT_EQ(g_sources.At(-1), nullptr);
    EXPECT_EQ(g_sources.At(INT64_MIN), nullptr);
}

}  // namespace
