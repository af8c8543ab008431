#include <windows.h>

#include "platform.h"

bool plat_stdout_is_terminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

void plat_ignore_broken_pipe() {
    // A write to a pipe whose reader has gone already fails on Windows.
}
