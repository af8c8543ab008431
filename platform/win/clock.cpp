#include <windows.h>

#include "platform.h"

PlatLocalTime plat_local_time() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return PlatLocalTime{now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                         now.wMinute, now.wSecond, now.wMilliseconds};
}

void plat_sleep_ms(uint32_t milliseconds) {
    Sleep(milliseconds);
}
