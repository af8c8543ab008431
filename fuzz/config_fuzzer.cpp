// Arbitrary configuration files, loaded the way a host triggers it: the file beside the
// module is written, the list emptied, and then every descriptor is read and every source
// polled with the log on. The simulated counter library answers, in process.
#include <cstdint>
#include <cstdio>

#include "exports.h"
#include "load_sources.h"
#include "module_state.h"
#include "simulated_in_process.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    UseSimulatedInProcess();
    char path[kSiblingPathCapacity];
    if (!ModuleSiblingPath(".cfg", path, sizeof path)) return 0;
    FILE* config = fopen(path, "wb");
    if (config == nullptr) return 0;
    fwrite(data, 1, size, config);
    fclose(config);

    ClearSources();
    const uint32_t count = GetSourcesNum();
    g_loggingLevel = 1;
    for (uint32_t i = 0; i <= count && i < kMaxSourcesPolled; ++i) {
        HOST_SOURCE_DESC desc{};
        desc.version = i % 2 == 0 ? kHostDescVersionWithGroup : 0x00010001;
        GetSourceDesc(i, &desc);
        GetSourceData(i);
    }
    return 0;
}
