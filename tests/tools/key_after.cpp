// key-after MS PROGRAM [ARGUMENTS...]: runs PROGRAM with a pipe as its standard input and
// writes one byte into it after MS milliseconds, as a user pressing a key would. Exits
// with the program's status.
#include <cstdio>
#include <cstdlib>

#include "platform.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: key-after MS PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    PlatChild child;
    if (!plat_child_start(argv + 2, &child)) {
        fprintf(stderr, "key-after: cannot start %s\n", argv[2]);
        return 2;
    }
    plat_sleep_ms(static_cast<uint32_t>(strtoul(argv[1], nullptr, 10)));
    plat_child_write_input(&child, "x", 1);
    return plat_child_wait(&child);
}
