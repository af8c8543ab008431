#include <cstdio>

#include "platform.h"
#include "probe_io.h"
#include "run_modes.h"

namespace {
// Each message reaches the console, a file or a pipe as soon as it is printed.
void WriteToConsole(void*, const char* text, size_t length) {
    fwrite(text, 1, length, stdout);
    fflush(stdout);
}
void SleepReally(void*, uint32_t milliseconds) {
    plat_sleep_ms(milliseconds);
}
bool KeyPressed(void*) {
    return plat_key_pressed();
}
}  // namespace

int main(int argc, char** argv) {
    const ProbeIo console{WriteToConsole, SleepReally, KeyPressed, nullptr};
    return RunProbe(argc, argv, console);
}
