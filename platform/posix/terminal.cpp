#include <signal.h>
#include <unistd.h>

#include "platform.h"

bool plat_stdout_is_terminal() {
    return isatty(STDOUT_FILENO) != 0;
}

void plat_ignore_broken_pipe() {
    signal(SIGPIPE, SIG_IGN);
}
