#include "drm_health.h"

#include "amd_ras.h"
#include "drm_files.h"
#include "drm_readings.h"
#include "metrics.h"

static_assert(kHealthFirstMetric == kDramActive &&
                  kHealthFirstMetric + kHealthMetrics - 1 == kEccUncorrected,
              "the unit's run of metrics");

namespace {

const CounterReading kNotAvailable{kReadingNotAvailable, 0, 0};
// A first look at the idle residency waits this long for a second one.
constexpr uint32_t kIdleBaselineMs = 100;

CounterReading Field(const MetricsField& field, bool percent) {
    switch (field.state) {
        case MetricsField::kRead:
            return percent ? drm_share(static_cast<double>(field.value) / 100)
                           : CounterReading{0, field.value, 1};
        case MetricsField::kAbsurd:
            return CounterReading{kReadingNoData, 0, 0};
        default:
            return kNotAvailable;
    }
}

CounterReading Limit(bool read, bool on) {
    return read ? drm_share(on ? 1 : 0) : CounterReading{kReadingNoData, 0, 0};
}

// A count that only grows, from the driver's figure where it was read, in units of `per`
// of the driver's.
CounterReading Count(bool read, CumulativeCount* count, uint64_t raw, uint64_t per) {
    return read ? CounterReading{0, cumulative_take(count, raw) / per, 1}
                : CounterReading{kReadingNoData, 0, 0};
}

// A temperature from the table, else from hwmon's file.
CounterReading Temperature(const MetricsField& field, const std::string& file) {
    if (field.state != MetricsField::kAbsent || file.empty()) return Field(field, false);
    return drm_read_degrees(file);
}

bool TableHas(const DrmSources& s, MetricsField GpuMetricsTable::*field) {
    if (s.gpuMetrics.empty()) return false;
    // A GPU asleep at the find was not woken to read it: its table may have it.
    return !s.metricsReadAtFind ||
           (s.metricsAtFind.known && (s.metricsAtFind.*field).state != MetricsField::kAbsent);
}

}  // namespace

void drm_read_health(const DrmSources& s, DrmHealthMemory* memory, Sampler* sampler,
                     CounterReading* out) {
    // The unit's readings by metric.
    auto at = [out](uint32_t metric) -> CounterReading& {
        return out[metric - kHealthFirstMetric];
    };
    for (uint32_t i = 0; i < kHealthMetrics; ++i) out[i] = kNotAvailable;
    GpuMetricsTable table;
    if (!s.gpuMetrics.empty()) {
        std::string bytes;
        const int error = drm_read_file(s.gpuMetrics, kGpuMetricsLimit, &bytes);
        const bool whole = error == 0 && gpu_metrics_parse(bytes, &table);
        const bool parsed = whole && table.known;
        // A table of a layout not known here has nothing to read; one that could not be
        // read is a failed reading.
        const CounterReading failed{whole ? kReadingNotAvailable : kReadingNoData, 0, 0};
        at(kDramActive) = parsed ? Field(table.memoryActivity, true) : failed;
        if (parsed && table.throttle.state == MetricsField::kRead) {
            at(kPowerLimited) = Limit(true, table.powerLimited);
            at(kThermalLimited) = Limit(true, table.thermalLimited);
            at(kOtherLimited) = Limit(true, table.otherLimited);
        }
    }
    if (!s.limitFiles.empty()) {
        const LimitState limits = intel_read_limits(s.limitFiles);
        at(kPowerLimited) = Limit(limits.read, limits.power);
        at(kThermalLimited) = Limit(limits.read, limits.thermal);
        at(kOtherLimited) = Limit(limits.read, limits.other);
    }
    at(kHotspotTemperature) = Temperature(table.hotspotC, s.hotspotC);
    at(kMemoryTemperature) = Temperature(table.memoryC, s.memoryC);
    if (!s.energyTotal.empty()) {
        int64_t microjoules = 0;
        const bool read = drm_read_integer(s.energyTotal, &microjoules) == 0 && microjoules >= 0;
        at(kEnergy) = Count(read, &memory->energy, static_cast<uint64_t>(microjoules), 1000000);
    }
    if (!s.idleFiles.empty()) {
        const bool first = memory->idle.atNs == 0;
        at(kIdleResidency) = intel_read_idle(s.idleFiles, &memory->idle);
        if (first && memory->idle.atNs != 0 && sampler_sleep(sampler, kIdleBaselineMs))
            at(kIdleResidency) = intel_read_idle(s.idleFiles, &memory->idle);
    }
    if (!s.rasFiles.empty()) {
        const RasCounts counts = amd_read_ras(s.rasFiles);
        at(kEccCorrected) = Count(counts.read, &memory->errors[0], counts.correctable, 1);
        at(kEccUncorrected) = Count(counts.read, &memory->errors[1], counts.uncorrectable, 1);
    }
}

std::string drm_health_why_not(const DrmSources& s, uint32_t metric) {
    bool offered = false;
    switch (metric) {
        case kDramActive:
            offered = TableHas(s, &GpuMetricsTable::memoryActivity);
            break;
        case kPowerLimited:
        case kThermalLimited:
        case kOtherLimited:
            offered = !s.limitFiles.empty() || TableHas(s, &GpuMetricsTable::throttle);
            break;
        case kEnergy:
            offered = !s.energyTotal.empty();
            break;
        case kHotspotTemperature:
            offered = !s.hotspotC.empty() || TableHas(s, &GpuMetricsTable::hotspotC);
            break;
        case kMemoryTemperature:
            offered = !s.memoryC.empty() || TableHas(s, &GpuMetricsTable::memoryC);
            break;
        case kIdleResidency:
            offered = !s.idleFiles.empty();
            break;
        case kEccCorrected:
        case kEccUncorrected:
            offered = !s.rasFiles.empty();
            break;
        default:
            return "only NVIDIA's driver measures it";
    }
    if (offered) return "";
    if (!s.gpuMetrics.empty() && s.metricsReadAtFind && !s.metricsAtFind.known)
        return "a gpu_metrics layout not known here";
    return "not supported by this GPU or driver";
}
