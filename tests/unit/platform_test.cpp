#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "ini_document.h"
#include "sibling_path.h"

namespace {

std::string Sibling(const char* path, const char* extension, size_t capacity = 260) {
    char out[1024];
    memset(out, 'x', sizeof out);
    if (!sibling_path(path, extension, out, capacity)) {
        EXPECT_EQ(out[0], '\0') << "a failure leaves the output empty";
        return "<fails>";
    }
    return out;
}

TEST(SiblingPath, ReplacesTheExtensionOfTheFileNameOnly) {
    EXPECT_EQ(Sibling("C:\\Tools\\Zarmite.dll", ".cfg"), "C:\\Tools\\Zarmite.cfg");
    EXPECT_EQ(Sibling("/opt/z/Zarmite.so", ".log"), "/opt/z/Zarmite.log");
    EXPECT_EQ(Sibling("/opt/z/Zarmite.plugin.so", ".cfg"), "/opt/z/Zarmite.plugin.cfg");
    EXPECT_EQ(Sibling("/opt/v1.2/Zarmite", ".cfg"), "/opt/v1.2/Zarmite.cfg");
    EXPECT_EQ(Sibling("C:\\v1.2\\Zarmite", ".cfg"), "C:\\v1.2\\Zarmite.cfg");
    EXPECT_EQ(Sibling("Zarmite", ".cfg"), "Zarmite.cfg");
    EXPECT_EQ(Sibling("Zarmite.", ".cfg"), "Zarmite.cfg");
}

TEST(SiblingPath, ResultThatDoesNotFitFailsInsteadOfBeingCut) {
    std::string stem(255, 'a');
    EXPECT_EQ(Sibling((stem + ".dll").c_str(), ".cfg"), stem + ".cfg");  // 259 characters
    std::string longer(256, 'a');
    EXPECT_EQ(Sibling((longer + ".dll").c_str(), ".cfg"), "<fails>");
    // A name without an extension grows by one: fitting before is not enough.
    EXPECT_EQ(Sibling(std::string(256, 'b').c_str(), ".cfg"), "<fails>");
    char none[1] = {'x'};
    EXPECT_FALSE(sibling_path("a.so", ".cfg", none, 0));
    EXPECT_EQ(none[0], 'x');
}

TEST(IniDocument, ReadsValuesTheWayTheProfileReaderDoes) {
    const IniDocument ini = IniDocument::Parse(
        "ignored=before any section\r\n"
        "[Source0]\r\n"
        "  ID  =  12  \r\n"
        "name=first\r\n"
        "Name=second\r\n"
        "Dim=\"quoted value\"\r\n"
        "Group='single'\r\n"
        "Odd=\"unmatched'\r\n"
        "; comment=1\r\n"
        "# hash=not a comment\r\n"
        "Desc=a;b\r\n"
        "[ settings ] trailing text\n"
        "LoggingLevel=1\n"
        "[SOURCE0]\n"
        "Extra=from a repeated section\n"
        "[Last]\n"
        "Final=no line break");
    EXPECT_EQ(*ini.Find("source0", "id"), "12");
    EXPECT_EQ(*ini.Find("Source0", "NAME"), "first");
    EXPECT_EQ(*ini.Find("Source0", "Dim"), "quoted value");
    EXPECT_EQ(*ini.Find("Source0", "Group"), "single");
    EXPECT_EQ(*ini.Find("Source0", "Odd"), "\"unmatched'");
    EXPECT_EQ(*ini.Find("Source0", "# hash"), "not a comment");
    EXPECT_EQ(*ini.Find("Source0", "Desc"), "a;b");
    EXPECT_EQ(ini.Find("Source0", "; comment"), nullptr);
    EXPECT_EQ(ini.Find("Source0", "ignored"), nullptr);
    EXPECT_EQ(ini.Find("Source0", "Extra"), nullptr);
    EXPECT_EQ(ini.GetInt("Settings", "LoggingLevel", 0), 1);
    EXPECT_EQ(*ini.Find("last", "final"), "no line break");
}

TEST(IniDocument, CopiesAreCutToTheirDestination) {
    const std::string long259(259, 'v');
    const IniDocument ini = IniDocument::Parse("[S]\nLong=" + long259 +
                                               "\nLonger=" + std::string(5000, 'w') + "\nEmpty=\n");
    char big[260];
    EXPECT_EQ(ini.GetString("S", "Long", big, sizeof big), 259u);
    EXPECT_EQ(std::string(big), long259);
    char small[32];
    EXPECT_EQ(ini.GetString("S", "Longer", small, sizeof small), 31u);
    EXPECT_EQ(std::string(small), std::string(31, 'w'));
    EXPECT_EQ(ini.GetString("S", "Empty", small, sizeof small), 0u);
    EXPECT_EQ(ini.GetString("S", "Missing", small, sizeof small), 0u);
    EXPECT_STREQ(small, "");
    EXPECT_EQ(ini.GetString("Nowhere", "Long", small, sizeof small), 0u);
}

TEST(IniDocument, MissingOrUnreadableFilesReadAsEmpty) {
    EXPECT_EQ(IniDocument::Load("no/such/file.cfg").Size(), 0u);
    EXPECT_EQ(IniDocument::Load(".").Size(), 0u);  // a directory
    EXPECT_EQ(IniDocument::Load(nullptr).Size(), 0u);
}

TEST(IniDocument, IntegerRule) {
    EXPECT_EQ(ini_parse_int("  42xyz"), 42);
    EXPECT_EQ(ini_parse_int("-17"), -17);
    EXPECT_EQ(ini_parse_int("+5"), 5);
    EXPECT_EQ(ini_parse_int("0x1F"), 31);
    EXPECT_EQ(ini_parse_int("0x"), 0);
    EXPECT_EQ(ini_parse_int("abc"), 0);
    EXPECT_EQ(ini_parse_int(""), 0);
    EXPECT_EQ(ini_parse_int("99999999999999999999"), INT32_MAX);
    EXPECT_EQ(ini_parse_int("-99999999999999999999"), INT32_MIN);
    const IniDocument ini = IniDocument::Parse("[Settings]\nLoggingLevel=on\n");
    EXPECT_EQ(ini.GetInt("Settings", "LoggingLevel", 7), 0);
    EXPECT_EQ(ini.GetInt("Settings", "Missing", 7), 7);
}

}  // namespace
