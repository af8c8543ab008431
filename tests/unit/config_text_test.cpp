// Configurations as Windows editors save them: with a UTF-8 byte-order mark, as UTF-16 in
// either byte order, with old Mac line breaks; and files that no configuration can be.
#include "config_text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "ini_document.h"
#include "platform.h"
#include "temp_dir.h"

namespace {

using namespace std::string_literals;

// UTF-16 with a byte-order mark, from text of Basic Multilingual Plane code units.
std::string Utf16(const std::u16string& text, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t unit : text) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        out += bigEndian ? high : low;
        out += bigEndian ? low : high;
    }
    return out;
}

std::string Value(const IniDocument& ini, const char* section, const char* key) {
    char value[260];
    ini.GetString(section, key, value, sizeof value);
    return value;
}

const char16_t kConfig16[] =
    u"[Settings]\r\nLoggingLevel=1\r\n[Source0]\r\nID=12\r\nName=Caf\u00e9\r\n";
const char kConfig8[] =
    "[Settings]\r\nLoggingLevel=1\r\n[Source0]\r\nID=12\r\nName=Caf\xC3\xA9\r\n";

TEST(ConfigText, AByteOrderMarkLosesNeitherTheFirstSectionNorAnyOther) {
    const std::string files[] = {"\xEF\xBB\xBF"s + kConfig8, Utf16(kConfig16, false),
                                 Utf16(kConfig16, true)};
    for (const std::string& file : files) {
        const IniDocument ini = IniDocument::Parse(DecodeConfigText(file));
        EXPECT_EQ(Value(ini, "Source0", "ID"), "12");
        EXPECT_EQ(ini.GetInt("Settings", "LoggingLevel", 0), 1);
        // The name reaches the record in the host's own encoding.
        EXPECT_EQ(Value(ini, "Source0", "Name"), plat_utf8_to_host_text("Caf\xC3\xA9"));
    }
#if !defined(_WIN32)
    EXPECT_EQ(plat_utf8_to_host_text("Caf\xC3\xA9"), "Caf\xC3\xA9");
#endif
    // Without a mark the bytes are taken as they are.
    EXPECT_EQ(DecodeConfigText(kConfig8), kConfig8);
}

TEST(ConfigText, Utf16DecodingPairsSurrogatesAndReplacesBrokenOnes) {
    EXPECT_EQ(Utf8FromUtf16("A\0\xE9\0\x16\x04"s, false), "A\xC3\xA9\xD0\x96");
    // U+1F600 as a pair, big-endian.
    EXPECT_EQ(Utf8FromUtf16("\xD8\x3D\xDE\x00"s, true), "\xF0\x9F\x98\x80");
    // A high surrogate with no low one, a lone low one, and an odd last byte.
    EXPECT_EQ(Utf8FromUtf16("\x3D\xD8"
                            "A\0"
                            "\x00\xDE"
                            "B"s,
                            false),
              "\xEF\xBF\xBD"
              "A"
              "\xEF\xBF\xBD");
    EXPECT_EQ(Utf8FromUtf16("", false), "");
}

TEST(ConfigText, ALoneCarriageReturnEndsALine) {
    const IniDocument ini = IniDocument::Parse("[Source0]\rID=3\rName=x\r\n\r\nDim=us\n");
    EXPECT_EQ(Value(ini, "Source0", "ID"), "3");
    EXPECT_EQ(Value(ini, "Source0", "Name"), "x");
    EXPECT_EQ(Value(ini, "Source0", "Dim"), "us");
    EXPECT_EQ(ini.Size(), 3u);
}

TEST(ConfigText, FilesAreReadWholeOrNotAtAll) {
    TempDir dir;
    const std::string utf16 = dir.Write("utf16.cfg", Utf16(kConfig16, false));
    EXPECT_EQ(Value(IniDocument::Load(utf16.c_str()), "Source0", "ID"), "12");

    // A file above the limit is refused without being read: a sparse one costs nothing.
    const std::string huge = dir.Write("huge.cfg", kConfig8);
    std::filesystem::resize_file(huge, kMaxConfigBytes + 1);
    std::string out = "untouched";
    EXPECT_EQ(plat_file_read(huge.c_str(), kMaxConfigBytes, out), PlatReadResult::kTooLarge);
    EXPECT_EQ(out, "");
    EXPECT_EQ(IniDocument::Load(huge.c_str()).Size(), 0u);
    std::filesystem::resize_file(huge, kMaxConfigBytes);
    EXPECT_EQ(IniDocument::Load(huge.c_str()).Size(), 3u) << "the limit itself is allowed";

    EXPECT_EQ(plat_file_read(dir.Path("").c_str(), kMaxConfigBytes, out),
              PlatReadResult::kUnreadable);
    EXPECT_EQ(plat_file_read(dir.Path("missing.cfg").c_str(), kMaxConfigBytes, out),
              PlatReadResult::kUnreadable);
}

}  // namespace
