#include <conio.h>
#include <windows.h>

#include "platform.h"

bool plat_key_pressed() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) return true;

    DWORD consoleMode = 0;
    if (GetConsoleMode(input, &consoleMode)) return _kbhit() != 0;

    if (GetFileType(input) == FILE_TYPE_PIPE) {
        DWORD available = 0;
        // A failed peek means the writer is gone, or the pipe cannot be peeked at all (a
        // Unix pipe under Wine): either way nothing will ever press a key.
        if (!PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr)) return true;
        return available > 0;
    }
    return true;  // a file or a device: scripted input, which ends the wait
}
