#include <windows.h>

#include <cerrno>

#include "platform.h"

namespace {
volatile LONG g_terminationRequested = 0;

BOOL WINAPI OnConsoleEvent(DWORD) {
    InterlockedExchange(&g_terminationRequested, 1);
    return TRUE;
}
}  // namespace

void plat_catch_termination() {
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool plat_termination_requested() {
    return InterlockedCompareExchange(&g_terminationRequested, 0, 0) != 0;
}

bool plat_stdout_is_terminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

PlatInputState plat_stdin_state() {
    // Only the live view asks, and Windows has none.
    return PlatInputState::kNothing;
}

bool plat_write_failed_for_broken_pipe() {
    const DWORD error = GetLastError();
    // The C library maps some of these to EINVAL: the system's own code tells.
    return errno == EPIPE || error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA ||
           error == ERROR_PIPE_NOT_CONNECTED;
}

void plat_guard_closed_stdout() {
    // A handle number is never reused for standard output on Windows: a closed one stays
    // closed, and writes to it fail.
}

void plat_ignore_broken_pipe() {
    // A write to a pipe whose reader has gone already fails on Windows.
}
