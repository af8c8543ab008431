#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bounded_reads.h"
#include "platform.h"
#include "temp_dir.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#endif

namespace {

TEST(LibraryLoading, FailuresReturnNullWithAReason) {
    EXPECT_EQ(plat_library_open("no-such-library-anywhere.so.dll"), nullptr);
    EXPECT_STRNE(plat_library_error(), "");
    EXPECT_EQ(plat_library_open(nullptr), nullptr);
    EXPECT_EQ(plat_library_symbol(nullptr, "x"), nullptr);
    plat_library_close(nullptr);
}

TEST(LibraryLoading, APlugInFileIsOnlyARegularFileAndNeverSearchedFor) {
    TempDir dir;
    EXPECT_EQ(plat_library_open_file(nullptr), nullptr);
    EXPECT_EQ(plat_library_open_file(""), nullptr);
    EXPECT_EQ(plat_library_open_file(dir.Path("missing").c_str()), nullptr);
    EXPECT_EQ(plat_library_open_file(dir.Path("").c_str()), nullptr) << "a folder";
    EXPECT_STRNE(plat_library_error(), "");
    // A bare name is a file in the current folder: here there is none by that name, even
    // though the system's search would find one.
#if defined(_WIN32)
    EXPECT_EQ(plat_library_open_file("kernel32.dll"), nullptr);
#else
    EXPECT_EQ(plat_library_open_file("libc.so.6"), nullptr);
    const std::string fifo = dir.Path("fifo.so");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(plat_library_open_file(fifo.c_str()), nullptr) << "never waits for a writer";
    EXPECT_STREQ(plat_library_error(), "not a regular file");
#endif
}

TEST(FileReplace, AFileIsReplacedWholeOrLeftAsItWas) {
    TempDir dir;
    const std::string path = dir.Path("zarmite.prom");
    ASSERT_TRUE(plat_file_replace(path.c_str(), "first\n"));
    ASSERT_TRUE(plat_file_replace(path.c_str(), "second\n"));
    EXPECT_EQ(dir.Read("zarmite.prom"), "second\n");
    EXPECT_FALSE(dir.Exists("zarmite.prom.tmp")) << "the temporary file is renamed";
    EXPECT_FALSE(plat_file_replace(dir.Path("no-folder/x.prom").c_str(), "x"));
    EXPECT_FALSE(plat_file_replace(nullptr, "x"));
    EXPECT_FALSE(plat_file_replace("", "x"));
    // A folder where the file should be: nothing is replaced, no temporary file stays.
    std::filesystem::create_directories(dir.Path("folder.prom"));
    EXPECT_FALSE(plat_file_replace(dir.Path("folder.prom").c_str(), "x"));
    EXPECT_FALSE(dir.Exists("folder.prom.tmp"));
    EXPECT_TRUE(plat_file_remove(path.c_str()));
    EXPECT_FALSE(dir.Exists("zarmite.prom"));
    EXPECT_FALSE(plat_file_remove(path.c_str())) << "nothing left to remove";
}

TEST(FileReplace, OnlyARegularFileOrNothingInAWritableFolderCanBeReplaced) {
    TempDir dir;
    std::string why;
    EXPECT_TRUE(plat_file_replaceable(dir.Path("new.prom").c_str(), &why)) << why;
    EXPECT_FALSE(dir.Exists("new.prom.tmp")) << "the trial file is removed";
    ASSERT_TRUE(plat_file_replace(dir.Path("old.prom").c_str(), "x"));
    EXPECT_TRUE(plat_file_replaceable(dir.Path("old.prom").c_str(), &why)) << why;
    EXPECT_FALSE(plat_file_replaceable(dir.Path("no-folder/x.prom").c_str(), &why));
    EXPECT_FALSE(why.empty());
    std::filesystem::create_directories(dir.Path("folder.prom"));
    EXPECT_FALSE(plat_file_replaceable(dir.Path("folder.prom").c_str(), &why));
    EXPECT_EQ(why, "not a regular file");
    EXPECT_FALSE(plat_file_replaceable("", &why));
#if !defined(_WIN32)
    EXPECT_FALSE(plat_file_replaceable("/dev/null", &why)) << "a device is never replaced";
    ASSERT_EQ(symlink(dir.Path("old.prom").c_str(), dir.Path("link.prom").c_str()), 0);
    EXPECT_FALSE(plat_file_replaceable(dir.Path("link.prom").c_str(), &why));
    if (geteuid() != 0) {  // root writes anywhere
        std::filesystem::create_directories(dir.Path("read-only"));
        chmod(dir.Path("read-only").c_str(), 0500);
        EXPECT_FALSE(plat_file_replaceable(dir.Path("read-only/x.prom").c_str(), &why));
        EXPECT_EQ(why, "Permission denied");
        chmod(dir.Path("read-only").c_str(), 0700);
    }
#endif
}

#if !defined(_WIN32)
TEST(FileReplace, WhateverStandsAtTheTemporaryNameIsRemovedNotWrittenThrough) {
    TempDir dir;
    const std::string path = dir.Path("zarmite.prom");
    const std::string temporary = path + ".tmp";
    // A pipe no one reads: opening it for writing would wait for ever.
    ASSERT_EQ(mkfifo(temporary.c_str(), 0600), 0);
    ASSERT_TRUE(plat_file_replace(path.c_str(), "one\n"));
    // A second name of another file: that file keeps its content.
    ASSERT_TRUE(plat_file_replace(dir.Path("other").c_str(), "other\n"));
    ASSERT_EQ(link(dir.Path("other").c_str(), temporary.c_str()), 0);
    ASSERT_TRUE(plat_file_replace(path.c_str(), "two\n"));
    EXPECT_EQ(dir.Read("other"), "other\n");
    // A link, to a file or to nowhere: removed, not followed, and the file written again.
    ASSERT_EQ(symlink(dir.Path("other").c_str(), temporary.c_str()), 0);
    ASSERT_TRUE(plat_file_replace(path.c_str(), "three\n"));
    EXPECT_EQ(dir.Read("other"), "other\n");
    EXPECT_EQ(dir.Read("zarmite.prom"), "three\n");
    EXPECT_FALSE(dir.Exists("zarmite.prom.tmp"));
}
#endif

TEST(ModulePath, APathThatDoesNotFitIsRefusedNotCut) {
    void* self = plat_module_handle_of(reinterpret_cast<const void*>(&plat_module_path));
    char path[1024];
    ASSERT_TRUE(plat_module_path(self, path, sizeof path));
    EXPECT_NE(std::string(path).find("zarmite_unit_tests"), std::string::npos) << path;
    char small[8] = "xxxxxxx";
    EXPECT_FALSE(plat_module_path(self, small, sizeof small));
    EXPECT_STREQ(small, "");
    EXPECT_FALSE(plat_module_path(nullptr, path, sizeof path));
}

#if !defined(_WIN32)
// Puts `descriptor` in place of standard input for the test's duration.
class StandardInput {
public:
    explicit StandardInput(int descriptor) : saved_(dup(STDIN_FILENO)) {
        dup2(descriptor, STDIN_FILENO);
    }
    ~StandardInput() {
        dup2(saved_, STDIN_FILENO);
        close(saved_);
    }

private:
    int saved_;
};

TEST(KeyPressed, APipeCountsWhenDataWaitsOrItEndsAndNothingIsConsumed) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    {
        StandardInput input(ends[0]);
        EXPECT_FALSE(plat_key_pressed());
        ASSERT_EQ(write(ends[1], "k", 1), 1);
        EXPECT_TRUE(plat_key_pressed());
        EXPECT_TRUE(plat_key_pressed());
        char key = 0;
        ASSERT_EQ(read(STDIN_FILENO, &key, 1), 1);
        EXPECT_EQ(key, 'k');
        close(ends[1]);
        EXPECT_TRUE(plat_key_pressed());  // the writer is gone: the input is at its end
    }
    close(ends[0]);
}

TEST(KeyPressed, ATerminalKeyCountsWithoutALineBreakAndStaysInTheBuffer) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        GTEST_SKIP() << "no pseudo-terminal here";
    int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    {
        StandardInput input(terminal);
        EXPECT_FALSE(plat_key_pressed());
        ASSERT_EQ(write(master, "q", 1), 1);
        // The terminal driver hands the byte over asynchronously: wait for it, up to 5 s.
        bool pressed = false;
        for (int waited = 0; !pressed && waited < 5000; waited += 5) {
            pressed = plat_key_pressed();
            if (!pressed) usleep(5000);
        }
        EXPECT_TRUE(pressed);
        EXPECT_TRUE(plat_key_pressed());
    }
    close(terminal);
    close(master);
}
#endif

}  // namespace

namespace {

// Files for BoundedReads: a path holding "hang" blocks until released.
std::mutex g_hangLock;
std::condition_variable g_hangReleased;
bool g_released = false;

int ReadOrHang(const std::string& path, size_t, std::string* out) {
    if (path.find("hang") != std::string::npos) {
        std::unique_lock<std::mutex> guard(g_hangLock);
        g_hangReleased.wait(guard, [] { return g_released; });
    }
    *out = "text of " + path;
    return path == "missing" ? ENOENT : 0;
}

TEST(BoundedReads, AHungFileCostsOnlyItsOwnReadingAndIsPassedOverWhileItHangs) {
    BoundedReads reads(ReadOrHang, 50, 2);
    const auto errors = [](const std::vector<FileText>& texts) {
        std::vector<int> out;
        for (const FileText& text : texts) out.push_back(text.error);
        return out;
    };
    const std::vector<FileText> first = reads.ReadAll({"a", "hang", "missing", "b"}, 100);
    EXPECT_EQ(errors(first), (std::vector<int>{0, ETIMEDOUT, ENOENT, 0}));
    EXPECT_EQ(first[3].text, "text of b") << "the rest is read after the hung file";
    EXPECT_EQ(reads.Stuck(), 1u);
    // Still stuck: the file fails at once, the others are read.
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(errors(reads.ReadAll({"hang", "c"}, 100)), (std::vector<int>{ETIMEDOUT, 0}));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(40));
    // With as many reads stuck as allowed, every file fails at once until one ends.
    EXPECT_EQ(errors(reads.ReadAll({"hang-too"}, 100)), (std::vector<int>{ETIMEDOUT}));
    started = std::chrono::steady_clock::now();
    EXPECT_EQ(errors(reads.ReadAll({"d"}, 100)), (std::vector<int>{ETIMEDOUT}));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(40));
    {
        std::lock_guard<std::mutex> guard(g_hangLock);
        g_released = true;
    }
    g_hangReleased.notify_all();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (reads.Stuck() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_EQ(reads.Stuck(), 0u);
    EXPECT_EQ(errors(reads.ReadAll({"hang", "c"}, 100)), (std::vector<int>{0, 0}));
}

}  // namespace
