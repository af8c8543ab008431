#include <cstdio>

#include "platform.h"
#include "probe_io.h"
#include "run_modes.h"
#include "sample_period.h"

namespace {
// Each message reaches the console, a file or a pipe as soon as it is printed. A reader
// that has gone (with SIGPIPE ignored) or a full disk fails the write.
bool WriteToConsole(void*, const char* text, size_t length) {
    const bool written = fwrite(text, 1, length, stdout) == length;
    return fflush(stdout) == 0 && written;
}
void SleepReally(void*, uint32_t milliseconds) {
    plat_sleep_ms(milliseconds);
}
bool KeyPressed(void*) {
    return plat_key_pressed();
}
void Note(void*, const char* text) {
    fprintf(stderr, "ZarmiteCLI: %s\n", text);
}
}  // namespace

int main(int argc, char** argv) {
    if (*SamplePeriodWarning() != '\0')
        fprintf(stderr, "ZarmiteCLI: warning: %s\n", SamplePeriodWarning());
    const ProbeIo console{WriteToConsole, SleepReally, KeyPressed, nullptr, Note};
    const int status = RunProbe(argc, argv, console);
    if (console.outputLost) fputs("ZarmiteCLI: standard output could not be written\n", stderr);
    return status;
}
