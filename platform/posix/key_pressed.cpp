#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "platform.h"

namespace {
bool InputReadable() {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    // POLLHUP: a pipe whose writer is gone is at its end; POLLNVAL: no input at all.
    return poll(&input, 1, 0) > 0 && (input.revents & (POLLIN | POLLHUP | POLLNVAL | POLLERR));
}
}  // namespace

bool plat_key_pressed() {
    termios saved{};
    if (tcgetattr(STDIN_FILENO, &saved) != 0) return InputReadable();  // not a terminal
    // A process in the background would be stopped for changing the terminal's mode.
    const pid_t foreground = tcgetpgrp(STDIN_FILENO);
    if (foreground != -1 && foreground != getpgrp()) return InputReadable();

    // A terminal hands over a key only at the end of a line unless it is briefly taken
    // out of line mode; what was typed stays in the buffer afterwards.
    termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    bool pressed = InputReadable();
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    return pressed;
}
