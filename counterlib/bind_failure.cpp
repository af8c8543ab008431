#include "bind_failure.h"

#include "counter_library.h"

std::string BindFailureText(int32_t status) {
    const std::string file = kCounterLibraryFileName;
    if (status == kStatusLoadFailed)
#if defined(_WIN32)
        return "no counter library found: " + file +
               " was looked for beside the program and on the PATH; put one there (the "
               "release's windows-gpu\\ or demo\\ folder holds one)";
#else
        return "no counter library found: " + file +
               " was looked for on the library search path (LD_LIBRARY_PATH, then the "
               "system's); name the folder of one, for example "
               "LD_LIBRARY_PATH=build/linux/simulated-lib";
#endif
    if (status == kStatusNoQueryEntry)
        return file + " was found, but it has no " + kCounterQueryEntryName +
               ": it is not a counter library";
    return "the counter library was found but could not start: status " + std::to_string(status) +
           " (the user guide's troubleshooting says what it means)";
}
