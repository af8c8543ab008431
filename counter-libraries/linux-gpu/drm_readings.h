// Readings from a GPU's sysfs and hwmon files, checked before they reach the host: a fan
// of 65535 RPM, a busy above 100 %, a clock above 20 GHz, memory above 64 TiB or more of
// it used than there is, an energy counter that wrapped or was reset, and a sensor that
// is missing or refuses (EOPNOTSUPP, EINVAL) fail their reading instead.
#pragma once

#include <cstdint>
#include <string>

#include "background_sampler.h"
#include "drm_gpus.h"

// Why a reading failed; the numbers the NVML counter library uses for the same.
constexpr int32_t kReadingNotAvailable = 3;  // the GPU or its driver does not offer it
constexpr int32_t kReadingNoPermission = 4;  // the file needs privileges this user lacks
constexpr int32_t kReadingGpuLost = 15;      // the GPU has gone from the machine
constexpr int32_t kReadingNoData = 21;       // unreadable now, or a value that cannot be
constexpr int32_t kReadingAsleep = 27;       // the GPU sleeps and is not woken for it

// A share: value of cycle 10,000 (a hundredth of a percent).
constexpr uint64_t kShareCycle = 10000;
CounterReading drm_share(double share);

// Whether the GPU sleeps: its runtime_status is neither "active" nor "unsupported" (a
// device without runtime power management never sleeps).
bool drm_asleep(const DrmSources& sources);

// A percentage file (0 to 100).
CounterReading drm_read_percent(const std::string& path);
// The MHz of the current level in a pp_dpm_* text ("1: 1340Mhz *"); false for none.
bool drm_current_level_mhz(const std::string& text, uint64_t* mhz);

// Units of four or three neighbouring metrics: the graphics, SM, memory and video clocks;
// the memory used, free and total (MiB).
void drm_read_clocks(const DrmSources& sources, CounterReading out[4]);
void drm_read_memory(const DrmSources& sources, CounterReading out[3]);
CounterReading drm_read_temperature(const DrmSources& sources);
// A hwmon temperature file (m°C) in °C.
CounterReading drm_read_degrees(const std::string& path);
CounterReading drm_read_fan(const DrmSources& sources);

// Power in mW from an energy counter, kept between two readings.
struct EnergyHistory {
    uint64_t microjoules = 0;
    uint64_t atNs = 0;  // 0 before the first reading
};
// The power file's reading; or, from the energy counter, the rate since the last reading
// (`history`), where a first reading waits a moment on `sampler` for a second one.
CounterReading drm_read_power(const DrmSources& sources, EnergyHistory* history, Sampler* sampler);

// Nanoseconds of a monotonic clock.
uint64_t drm_now_ns();
