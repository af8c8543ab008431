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

int plat_utc_offset_minutes() {
    TIME_ZONE_INFORMATION zone;
    const DWORD state = GetTimeZoneInformation(&zone);
    LONG bias = zone.Bias;  // minutes to add to local time for UTC
    if (state == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
    if (state == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
    return state == TIME_ZONE_ID_INVALID ? 0 : static_cast<int>(-bias);
}
