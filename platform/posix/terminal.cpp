#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "platform.h"

namespace {
volatile sig_atomic_t g_terminationRequested = 0;

void OnTermination(int) {
    g_terminationRequested = 1;
}
}  // namespace

void plat_catch_termination() {
    struct sigaction action {};
    action.sa_handler = OnTermination;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool plat_termination_requested() {
    return g_terminationRequested != 0;
}

bool plat_stdout_is_terminal() {
    return isatty(STDOUT_FILENO) != 0;
}

PlatInputState plat_stdin_state() {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&input, 1, 0);
    if (ready < 0) return errno == EINTR ? PlatInputState::kNothing : PlatInputState::kEnded;
    if ((input.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return PlatInputState::kEnded;
    return (input.revents & POLLIN) != 0 ? PlatInputState::kReadable : PlatInputState::kNothing;
}

bool plat_write_failed_for_broken_pipe() {
    return errno == EPIPE;
}

void plat_guard_closed_stdout() {
    if (fcntl(STDOUT_FILENO, F_GETFD) != -1 || errno != EBADF) return;
    // Opened for reading only: a write to it fails with EBADF, as to a closed descriptor.
    const int guard = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (guard >= 0 && guard != STDOUT_FILENO) {
        dup2(guard, STDOUT_FILENO);
        close(guard);
    }
}

void plat_ignore_broken_pipe() {
    signal(SIGPIPE, SIG_IGN);
}
