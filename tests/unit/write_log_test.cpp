#include "write_log.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "temp_dir.h"

namespace {

const PlatLocalTime kFebruaryFirst{2026, 2, 1, 3, 4, 5, 6};

TEST(LogFormat, TimestampPadsEveryFieldAndKeepsTheWholeYear) {
    char out[64];
    EXPECT_EQ(FormatLogTimestamp(kFebruaryFirst, out, sizeof out), 25u);
    EXPECT_STREQ(out, "01-02-2026, 03:04:05.006 ");
    FormatLogTimestamp(PlatLocalTime{12345, 12, 31, 23, 59, 59, 999}, out, sizeof out);
    EXPECT_STREQ(out, "31-12-12345, 23:59:59.999 ");
}

TEST(LogFormat, SourceDataMessages) {
    char out[kLogMessageCapacity];
    FormatSourceDataMessage(0, "GPU busy", 37.5f, out);
    EXPECT_STREQ(out, "GetSourceData(0) - GPU busy -  37.500000");
    FormatSourceDataMessage(4294967295u, "", 0.1f, out);
    EXPECT_STREQ(out, "GetSourceData(4294967295) -  -  0.100000");
    FormatSourceDataMessage(7, "x", -2.25f, out);
    EXPECT_STREQ(out, "GetSourceData(7) - x -  -2.250000");
}

TEST(LogFormat, LongMessagesAreCutAt99Characters) {
    char out[kLogMessageCapacity];
    memset(out, 'z', sizeof out);
    const std::string name(31, 'n');
    FormatSourceDataMessage(4294967295u, name.c_str(), 3.4028235e38f, out);
    const std::string full = "GetSourceData(4294967295) - " + name +
                             " -  340282346638528859811704183484516925440.000000";
    EXPECT_EQ(strlen(out), 99u);
    EXPECT_EQ(std::string(out), full.substr(0, 99));
}

TEST(WriteLog, StartsAfreshOrAppendsWithCrLf) {
    TempDir dir;
    const std::string log = dir.Path("Zarmite.log");
    WriteLogAt(log.c_str(), "second entry of an old run", 0, kFebruaryFirst);
    WriteLogAt(log.c_str(), "GetSourcesNum() called", 0, kFebruaryFirst);
    WriteLogAt(log.c_str(), "2 returned", 1, kFebruaryFirst);
    EXPECT_EQ(dir.Read("Zarmite.log"),
              "01-02-2026, 03:04:05.006 GetSourcesNum() called\r\n"
              "01-02-2026, 03:04:05.006 2 returned\r\n");
}

TEST(WriteLog, AppendingCreatesAMissingLog) {
    TempDir dir;
    WriteLogAt(dir.Path("new.log").c_str(), "entry", 1, kFebruaryFirst);
    EXPECT_EQ(dir.Read("new.log"), "01-02-2026, 03:04:05.006 entry\r\n");
}

TEST(WriteLog, ALogThatCannotBeOpenedIsSkippedSilently) {
    TempDir dir;
    WriteLogAt(dir.Path("missing-folder/x.log").c_str(), "entry", 1, kFebruaryFirst);
    EXPECT_FALSE(dir.Exists("missing-folder"));
    std::filesystem::create_directories(dir.Path("a-directory.log"));
    WriteLogAt(dir.Path("a-directory.log").c_str(), "entry", 0, kFebruaryFirst);
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path("a-directory.log")));
}

}  // namespace
