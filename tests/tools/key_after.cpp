// key-after WHEN PROGRAM [ARGUMENTS...]: runs PROGRAM with a pipe as its standard input and
// writes one byte into it, as a user pressing a key would, when WHEN comes: a number of
// milliseconds, or @PATH, the moment a file appears at PATH (a test makes it once it has
// seen what it waits for; at most 120 s). Exits with the program's status.
#include <cstdio>
#include <cstdlib>

#include "platform.h"

namespace {

void WaitForFile(const char* path) {
    for (int waited = 0; waited < 120000; waited += 10) {
        if (FILE* file = fopen(path, "rb")) {
            fclose(file);
            return;
        }
        plat_sleep_ms(10);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: key-after MS|@PATH PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    PlatChild child;
    if (!plat_child_start(argv + 2, &child)) {
        fprintf(stderr, "key-after: cannot start %s\n", argv[2]);
        return 2;
    }
    if (argv[1][0] == '@')
        WaitForFile(argv[1] + 1);
    else
        plat_sleep_ms(static_cast<uint32_t>(strtoul(argv[1], nullptr, 10)));
    plat_child_write_input(&child, "x", 1);
    return plat_child_wait(&child);
}
