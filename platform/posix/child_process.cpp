#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform.h"

bool plat_child_start(const char* const* argv, PlatChild* child) {
    int pipeEnds[2];
    if (argv == nullptr || argv[0] == nullptr || pipe(pipeEnds) != 0) return false;
    pid_t pid = fork();
    if (pid < 0) {
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        return false;
    }
    if (pid == 0) {
        dup2(pipeEnds[0], STDIN_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        execvp(argv[0], const_cast<char* const*>(argv));
        _exit(127);
    }
    close(pipeEnds[0]);
    child->process = pid;
    child->inputPipe = pipeEnds[1];
    return true;
}

bool plat_child_write_input(PlatChild* child, const char* data, size_t size) {
    while (size > 0) {
        ssize_t written = write(static_cast<int>(child->inputPipe), data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

int plat_child_wait(PlatChild* child) {
    if (child->inputPipe >= 0) close(static_cast<int>(child->inputPipe));
    child->inputPipe = -1;
    int status = 0;
    while (waitpid(static_cast<pid_t>(child->process), &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
