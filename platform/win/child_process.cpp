#include <windows.h>

#include <string>

#include "platform.h"

namespace {
// Quotes one argument the way the C runtime's command-line parser reads it back.
void AppendQuoted(std::string& commandLine, const char* argument) {
    commandLine.push_back('"');
    size_t backslashes = 0;
    for (const char* c = argument; *c != '\0'; ++c) {
        if (*c == '\\') {
            ++backslashes;
            continue;
        }
        commandLine.append(*c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        commandLine.push_back(*c);
    }
    commandLine.append(backslashes * 2, '\\');
    commandLine.push_back('"');
}
}  // namespace

bool plat_child_start(const char* const* argv, PlatChild* child) {
    if (argv == nullptr || argv[0] == nullptr) return false;
    std::string commandLine;
    for (const char* const* argument = argv; *argument != nullptr; ++argument) {
        if (!commandLine.empty()) commandLine.push_back(' ');
        AppendQuoted(commandLine, *argument);
    }

    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return false;
    SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = readEnd;
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                  nullptr, &startup, &process);
    CloseHandle(readEnd);
    if (!started) {
        CloseHandle(writeEnd);
        return false;
    }
    CloseHandle(process.hThread);
    child->process = reinterpret_cast<intptr_t>(process.hProcess);
    child->inputPipe = reinterpret_cast<intptr_t>(writeEnd);
    return true;
}

bool plat_child_write_input(PlatChild* child, const char* data, size_t size) {
    DWORD written = 0;
    return WriteFile(reinterpret_cast<HANDLE>(child->inputPipe), data, static_cast<DWORD>(size),
                     &written, nullptr) &&
           written == size;
}

int plat_child_wait(PlatChild* child) {
    if (child->inputPipe != -1) CloseHandle(reinterpret_cast<HANDLE>(child->inputPipe));
    child->inputPipe = -1;
    HANDLE process = reinterpret_cast<HANDLE>(child->process);
    DWORD exitCode = 0;
    bool ok = WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 &&
              GetExitCodeProcess(process, &exitCode);
    CloseHandle(process);
    return ok ? static_cast<int>(exitCode) : -1;
}
