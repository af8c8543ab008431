// The diagnostic log against whatever a user or an attacker puts at its path: the input
// picks what lies there (a plain file, a folder, a named pipe, a symbolic link to another
// file or to nowhere, a second hard link to another file) and a sequence of fresh and
// appended entries. A plain file must hold exactly the entries a model predicts; every
// other file must stay as it was, and nothing may be created through a link.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz_input.h"
#include "write_log.h"

namespace {

namespace fs = std::filesystem;

const PlatLocalTime kTime{2026, 2, 1, 3, 4, 5, 6};
constexpr char kVictimText[] = "the user's own file";

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Check(bool condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "log file fuzzer: %s\n", what);
        abort();
    }
}

// A folder of its own, emptied for every input.
const fs::path& Folder() {
    static const fs::path folder = [] {
        fs::path path =
            fs::temp_directory_path() / ("zarmite-log-fuzz-" + std::to_string(getpid()));
        fs::create_directories(path);
        return path;
    }();
    return folder;
}

enum class Kind { kNothing, kFile, kFolder, kPipe, kLink, kDanglingLink, kHardLink, kCount };

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const fs::path& folder = Folder();
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder)) fs::remove_all(entry.path(), ignored);
    const fs::path log = folder / "Zarmite.log";
    const fs::path victim = folder / "victim.txt";
    const fs::path elsewhere = folder / "elsewhere.txt";
    std::ofstream(victim, std::ios::binary) << kVictimText;

    const Kind kind = static_cast<Kind>(input.Take<uint8_t>() % static_cast<int>(Kind::kCount));
    std::string expected;  // the model of a plain log's content
    switch (kind) {
        case Kind::kNothing:
            break;
        case Kind::kFile: {
            char old[64];
            expected.assign(old, input.Bytes(old, sizeof old));
            std::ofstream(log, std::ios::binary) << expected;
            break;
        }
        case Kind::kFolder:
            fs::create_directories(log);
            break;
        case Kind::kPipe:
            mkfifo(log.c_str(), 0600);
            break;
        case Kind::kLink:
            fs::create_symlink(victim, log);
            break;
        case Kind::kDanglingLink:
            fs::create_symlink(elsewhere, log);
            break;
        case Kind::kHardLink:
            fs::create_hard_link(victim, log);
            break;
        case Kind::kCount:
            break;
    }
    const bool plain = kind == Kind::kNothing || kind == Kind::kFile;

    const int entries = input.Take<uint8_t>() % 6;
    for (int i = 0; i < entries; ++i) {
        const bool append = input.Take<uint8_t>() % 2 != 0;
        char message[128];
        const size_t length = input.Bytes(message, sizeof message - 1);
        message[length] = '\0';
        WriteLogAt(log.c_str(), message, append ? 1 : 0, kTime);
        // What the entry is in the file: the message up to its first NUL, cut to fit.
        char line[600];
        const size_t stamp = FormatLogTimestamp(kTime, line, sizeof line);
        std::string entry(line, stamp);
        entry += std::string(message).substr(0, 512 - stamp - 3);
        entry += "\r\n";
        expected = append ? expected + entry : entry;
    }

    if (plain && entries > 0) Check(ReadAll(log) == expected, "a plain log holds other text");
    Check(ReadAll(victim) == kVictimText, "another file was changed through the log");
    Check(!fs::exists(elsewhere), "a file was created through a link");
    if (kind == Kind::kFolder) Check(fs::is_directory(log), "the folder was replaced");
    if (kind == Kind::kLink || kind == Kind::kDanglingLink)
        Check(fs::is_symlink(log), "the link was replaced");
    return 0;
}
