#include "number_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

#include "counter_text.h"
#include "platform.h"

namespace {

TEST(NumberText, IntegersReadFromTheStartOfTheText) {
    struct Case {
        const char* text;
        bool parses;
        int32_t value;
    } cases[] = {
        {"12", true, 12},
        {"  7", true, 7},
        {"3abc", true, 3},
        {"+4", true, 4},
        {"-1", true, -1},
        {"0x10", true, 0},
        {"2147483647", true, INT32_MAX},
        {"-2147483648", true, INT32_MIN},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"99999999999999999999", false, 0},
        {"abc", false, 0},
        {"", false, 0},
        {"-", false, 0},
        {"+-3", false, 0},
        {" \t\n5", true, 5},
    };
    for (const Case& c : cases) {
        int32_t value = 1234;
        EXPECT_EQ(ParseLeadingInt32(c.text, &value), c.parses) << c.text;
        EXPECT_EQ(value, c.parses ? c.value : 1234) << c.text;
    }
}

TEST(NumberText, FloatsReadFromTheStartOfTheText) {
    struct Case {
        const char* text;
        bool parses;
        float value;
    } cases[] = {
        {"100.5", true, 100.5f}, {"7.25xyz", true, 7.25f},
        {" -2.5", true, -2.5f},  {"+3", true, 3.0f},
        {".5", true, 0.5f},      {"1e3", true, 1000.0f},
        {"1e", true, 1.0f},      {"abc", false, 0},
        {"", false, 0},          {"nan", false, 0},
        {"inf", false, 0},       {"-infinity", false, 0},
        {"1e39", false, 0},      {"-1e39", false, 0},
        {"1e400", false, 0},     {"3.4028235e38", true, std::numeric_limits<float>::max()},
    };
    for (const Case& c : cases) {
        float value = 42.0f;
        EXPECT_EQ(ParseLeadingFloat(c.text, &value), c.parses) << c.text;
        EXPECT_EQ(value, c.parses ? c.value : 42.0f) << c.text;
    }
}

TEST(NumberText, ADecimalCommaLocaleChangesNothing) {
    // A host may set a locale whose decimal separator is a comma; not every machine has
    // one installed, so try the usual names.
    const char* previous = setlocale(LC_NUMERIC, nullptr);
    std::string saved = previous != nullptr ? previous : "C";
    bool switched = false;
    for (const char* name : {"de_DE.UTF-8", "de_DE", "German_Germany.1252", "fr_FR.UTF-8"}) {
        if (setlocale(LC_NUMERIC, name) != nullptr) {
            switched = true;
            break;
        }
    }
    float value = 0;
    EXPECT_TRUE(ParseLeadingFloat("100.5", &value));
    EXPECT_EQ(value, 100.5f);
    EXPECT_TRUE(ParseLeadingFloat("100,5", &value));
    EXPECT_EQ(value, 100.0f);
    setlocale(LC_NUMERIC, saved.c_str());
    if (!switched) GTEST_SKIP() << "no locale with a decimal comma on this machine";
}

TEST(CounterText, ACutNeverBreaksAUtf8CharacterWhereTextsAreUtf8) {
    if (!plat_host_text_is_utf8()) GTEST_SKIP() << "the host's texts are not UTF-8 here";
    const std::string text = "ab\xC3\xA9\xE6\xB8\xA9\xF0\x9F\x94\xA5";  // a b 2 3 4 bytes
    EXPECT_EQ(TextCutLength(text.data(), text.size(), 20), text.size()) << "it fits";
    EXPECT_EQ(TextCutLength(text.data(), text.size(), 2), 2u) << "before a character";
    EXPECT_EQ(TextCutLength(text.data(), text.size(), 3), 2u) << "inside two bytes";
    EXPECT_EQ(TextCutLength(text.data(), text.size(), 6), 4u) << "inside three bytes";
    EXPECT_EQ(TextCutLength(text.data(), text.size(), 9), 7u) << "inside four bytes";
    // Bytes that are no UTF-8 are cut where the limit falls.
    const std::string loose = "a\x80\x80\x80\x80\x80";
    EXPECT_EQ(TextCutLength(loose.data(), loose.size(), 5), 5u);
    const std::string start = "\x80\x80z";
    EXPECT_EQ(TextCutLength(start.data(), start.size(), 1), 1u);
    char out[4];
    CopyText(out, sizeof out, "\xC3\xA9\xC3\xA9", 4);
    EXPECT_STREQ(out, "\xC3\xA9");
}

}  // namespace
