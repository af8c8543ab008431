#include "host_round.h"

#include <chrono>
#include <cstdio>

#include "platform.h"

std::string IsoTimestamp(const PlatLocalTime& time, int utcOffsetMinutes) {
    const int offset = utcOffsetMinutes < 0 ? -utcOffsetMinutes : utcOffsetMinutes;
    char text[48];
    snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", time.year,
             time.month, time.day, time.hour, time.minute, time.second, time.millisecond,
             utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return text;
}

HostRound TakeRound(const PluginApi& api, const std::vector<HostSource>& sources, uint64_t number) {
    HostRound round{number, 0, 0, IsoTimestamp(plat_local_time(), plat_utc_offset_minutes()), {}};
    const auto start = std::chrono::steady_clock::now();
    round.values.resize(sources.size());
    for (size_t i = 0; i < sources.size(); ++i)
        round.values[i] = api.getSourceData(sources[i].index);
    round.durationSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    round.unixSeconds =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    return round;
}
