#include "bind_failure.h"

#include "counter_library.h"
#include "platform.h"

#if !defined(ZARMITE_INSTALLED_GPU_LIBRARY)
#define ZARMITE_INSTALLED_GPU_LIBRARY "../lib/zarmite/gpu"
#endif

// Linux only: on Windows the library is looked for beside the program, as the hint says.
#if !defined(_WIN32)
namespace {

// A folder beside the running program that holds a counter library, as an installed
// program (the GPU library's folder) or the build tree's (bin/../gpu-lib, bin/../
// simulated-lib) has one; "" where there is none, so that a hint never names a folder
// that is not there.
std::string CounterLibraryFolderNearby() {
    char module[1024];
    if (!plat_module_path(plat_module_handle_of(reinterpret_cast<const void*>(&BindFailureText)),
                          module, sizeof module))
        return "";
    std::string folder = module;
    const size_t slash = folder.find_last_of("/\\");
    if (slash == std::string::npos) return "";
    folder.resize(slash + 1);
    for (const char* relative :
         {ZARMITE_INSTALLED_GPU_LIBRARY, "gpu", "../gpu-lib", "../simulated-lib"}) {
        std::string base = folder;
        std::string rest = relative;
        while (rest.compare(0, 3, "../") == 0 && base.size() > 1) {  // bin/../x is x
            const size_t up = base.find_last_of("/\\", base.size() - 2);
            if (up == std::string::npos) break;
            base.resize(up + 1);
            rest.erase(0, 3);
        }
        const std::string candidate = base + rest;
        std::string head;
        if (plat_file_read((candidate + "/" + kCounterLibraryFileName).c_str(), 4, head) !=
            PlatReadResult::kUnreadable)
            return candidate;
    }
    return "";
}

}  // namespace
#endif

std::string BindFailureText(int32_t status) {
    const std::string file = kCounterLibraryFileName;
    if (status == kStatusLoadFailed)
#if defined(_WIN32)
        return "no counter library found: " + file +
               " was looked for beside the program and on the PATH; put one there (the "
               "release's windows-gpu\\ or demo\\ folder holds one)";
#else
    {
        const std::string nearby = CounterLibraryFolderNearby();
        return "no counter library found: " + file +
               " was looked for on the library search path (LD_LIBRARY_PATH, then the "
               "system's); name the folder of one, " +
               (nearby.empty() ? std::string("LD_LIBRARY_PATH=FOLDER")
                               : "for example LD_LIBRARY_PATH=" + nearby);
    }
#endif
    if (status == kStatusNoQueryEntry)
        return file + " was found, but it has no " + kCounterQueryEntryName +
               ": it is not a counter library";
    return "the counter library was found but could not start: status " + std::to_string(status) +
           " (the user guide's troubleshooting says what it means)";
}
