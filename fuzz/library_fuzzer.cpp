// A hostile counter library: every answer comes from the fuzz input. It drives the
// plug-in's enumeration, sampling and logging, and the probe's modes and report lines.
#include <cstdint>

#include "counter_report.h"
#include "exports.h"
#include "hostile_counter_library.h"
#include "ini_document.h"
#include "load_sources.h"
#include "module_state.h"
#include "run_modes.h"

namespace {

const char kConfig[] =
    "[Source0]\nID=0\n"
    "[Source1]\nID=1\nModType=2\nModFactor=3\n"
    "[Source2]\nID=2\nName=Named\nDim=u\nModType=3\nModFactor=7\n"
    "[Source3]\nID=-1\nModType=1\nModFactor=2\n"
    "[Source4]\nID=3\nModType=6\nModFactor=1e30\n";

struct NoConsole {
    int keyTests = 0;
    FuzzInput* input;
};

ProbeIo QuietIo(NoConsole* console) {
    // Now and then the output is gone, as when the reader of a pipe leaves.
    return ProbeIo{[](void* self, const char*, size_t) {
                       return static_cast<NoConsole*>(self)->input->Take<uint8_t>() != 0xFF;
                   },
                   [](void*, uint32_t) {},
                   [](void* self) { return ++static_cast<NoConsole*>(self)->keyTests > 2; },
                   console};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    UseHostileCounterLibrary(&input);

    static const IniDocument config = IniDocument::Parse(kConfig);
    LoadSourcesFrom(config);
    g_loggingLevel = 1;
    for (uint32_t i = 0; i < 6; ++i) {
        HOST_SOURCE_DESC desc{};
        desc.version = kHostDescVersionWithGroup;
        GetSourceDesc(i, &desc);
        GetSourceData(i);
    }
    g_loggingLevel = 0;

    NoConsole console{0, &input};
    const ProbeIo io = QuietIo(&console);
    const int32_t counter = input.Take<int8_t>();
    PrintCounterInfo(io, counter);
    PrintCounterType(io, counter);
    PrintCounterSample(io, counter);
    const char* const modes[][2] = {
        {"ZarmiteCLI", nullptr}, {"ZarmiteCLI", "sample"}, {"ZarmiteCLI", "2"}};
    const auto& mode = modes[input.Take<uint8_t>() % 3];
    RunProbe(mode[1] != nullptr ? 2 : 1, mode, io);
    // The module's list outlives this input: at exit it still calls into the library.
    UseHostileCounterLibrary(nullptr);
    return 0;
}
