// What the diagnostic log does with what it finds at its path: only a plain regular file is
// written, nothing is followed, nothing blocks, and an entry that cannot be written whole
// leaves the file as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform.h"
#include "temp_dir.h"
#include "write_log.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#endif

namespace {

const PlatLocalTime kTime{2026, 2, 1, 3, 4, 5, 6};

// Writes one entry the way the plug-in does, fresh or appended.
void Entry(const std::string& path, bool append) {
    WriteLogAt(path.c_str(), "entry", append ? 1 : 0, kTime);
}

TEST(LogFile, APlainFileIsWrittenFreshOrAppended) {
    TempDir dir;
    const std::string log = dir.Write("Zarmite.log", "old run\r\n");
    Entry(log, true);
    EXPECT_EQ(dir.Read("Zarmite.log"), "old run\r\n01-02-2026, 03:04:05.006 entry\r\n");
    Entry(log, false);
    EXPECT_EQ(dir.Read("Zarmite.log"), "01-02-2026, 03:04:05.006 entry\r\n");
}

TEST(LogFile, AFolderOrAFileWithAnotherHardLinkIsLeftAlone) {
    TempDir dir;
    std::filesystem::create_directories(dir.Path("folder.log"));
    for (bool append : {false, true}) {
        EXPECT_EQ(plat_log_file_open(dir.Path("folder.log").c_str(), append), -1);
    }
    // The other name may be any file of the user's: emptying the log would empty it.
    const std::string precious = dir.Write("precious.txt", "keep me");
    std::filesystem::create_hard_link(precious, dir.Path("Zarmite.log"));
    for (bool append : {false, true}) Entry(dir.Path("Zarmite.log"), append);
    EXPECT_EQ(dir.Read("precious.txt"), "keep me");
}

#if !defined(_WIN32)
TEST(LogFile, SymbolicLinksAreNeverFollowed) {
    TempDir dir;
    const std::string target = dir.Write("target.txt", "keep me");
    std::filesystem::create_symlink(target, dir.Path("Zarmite.log"));
    for (bool append : {false, true}) Entry(dir.Path("Zarmite.log"), append);
    EXPECT_EQ(dir.Read("target.txt"), "keep me");

    // A dangling link would otherwise create its target, wherever it points.
    std::filesystem::create_symlink(dir.Path("created-elsewhere.txt"), dir.Path("dangling.log"));
    for (bool append : {false, true}) Entry(dir.Path("dangling.log"), append);
    EXPECT_FALSE(dir.Exists("created-elsewhere.txt"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.Path("dangling.log")));
}

TEST(LogFile, APipeOrADeviceIsNotWrittenAndNothingBlocks) {
    TempDir dir;
    const std::string fifo = dir.Path("Zarmite.log");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // With no reader, a blocking open would wait for one for ever.
    for (bool append : {false, true}) EXPECT_EQ(plat_log_file_open(fifo.c_str(), append), -1);
    // With a reader the open succeeds, but the opened file is no regular file.
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    for (bool append : {false, true}) EXPECT_EQ(plat_log_file_open(fifo.c_str(), append), -1);
    char byte;
    EXPECT_LE(read(reader, &byte, 1), 0) << "nothing was written into the pipe";
    close(reader);
    EXPECT_EQ(plat_log_file_open("/dev/null", true), -1);
}

// The file size limit fails writes past it as a full disk does (EFBIG instead of ENOSPC).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        previousHandler_ = signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous_);
        signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit previous_;
    void (*previousHandler_)(int);
};

TEST(LogFile, AnEntryThatDoesNotFitLeavesTheFileAsItWas) {
    TempDir dir;
    const std::string before = "01-02-2026, 03:04:05.006 first\r\n";
    const std::string log = dir.Write("Zarmite.log", before);
    {
        // Room for ten more bytes: the entry would be cut mid-line.
        FileSizeLimit limit(before.size() + 10);
        Entry(log, true);
    }
    EXPECT_EQ(dir.Read("Zarmite.log"), before);
    Entry(log, true);  // the next entry starts on a line of its own
    EXPECT_EQ(dir.Read("Zarmite.log"), before + "01-02-2026, 03:04:05.006 entry\r\n");
}
#endif

}  // namespace
