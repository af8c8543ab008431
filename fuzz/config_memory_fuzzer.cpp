// Arbitrary configuration bytes read from memory, through the same decoding (byte-order
// marks, UTF-16, every kind of line break) and loading as a file: no file is written, so
// the reader is fuzzed at the speed of the parser. Every descriptor is then read and every
// source polled; the simulated counter library answers, in process.
#include <cstdint>
#include <string_view>

#include "config_text.h"
#include "exports.h"
#include "ini_document.h"
#include "load_sources.h"
#include "module_state.h"
#include "simulated_in_process.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    UseSimulatedInProcess();
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const IniDocument config = IniDocument::Parse(DecodeConfigText(bytes));
    LoadSourcesFrom(config);
    g_loggingLevel = 0;
    const uint32_t count = static_cast<uint32_t>(g_sources.Count());
    for (uint32_t i = 0; i <= count && i < kMaxSourcesPolled; ++i) {
        HOST_SOURCE_DESC desc{};
        desc.version = i % 2 == 0 ? kHostDescVersionWithGroup : 0x00010001;
        GetSourceDesc(i, &desc);
        GetSourceData(i);
    }
    config.GetInt("Settings", "LoggingLevel", 0);
    return 0;
}
