#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform.h"

namespace {
// The signal may reach any thread (the HTTP server's too): an atomic, lock-free flag is
// both safe in a handler and seen by every thread.
std::atomic<bool> g_terminationRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler needs a lock-free flag");

void OnTermination(int) {
    g_terminationRequested.store(true);
}
}  // namespace

void plat_catch_termination() {
    struct sigaction action {};
    action.sa_handler = OnTermination;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A hang-up (the terminal gone, or a service manager's reload) ends in order too,
    // unless the program was started with hang-ups ignored (nohup).
    struct sigaction hangUp {};
    if (sigaction(SIGHUP, nullptr, &hangUp) == 0 && hangUp.sa_handler != SIG_IGN)
        sigaction(SIGHUP, &action, nullptr);
}

bool plat_termination_requested() {
    return g_terminationRequested.load();
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
