#include "gpu_metrics_table.h"

#include <algorithm>

namespace {

// A field of a layout: its offset and width in bytes.
struct Field {
    uint32_t offset;
    uint32_t width;  // 2, 4 or 8
};

// The discrete layout of content revisions 1 to 3 (1.1 and 1.2 are 1.3 cut short: the
// table's own size says which fields it holds).
constexpr Field kDiscreteHotspot{6, 2};
constexpr Field kDiscreteMemoryTemperature{8, 2};
constexpr Field kDiscreteMemoryActivity{18, 2};
constexpr Field kDiscreteThrottle{112, 8};
// The APU layout of content revision 2: the independent throttle status after the rest.
constexpr Field kApuThrottle{120, 8};

// Sane bounds: a share never above 100 %, a die never hotter than 150 °C.
constexpr uint64_t kMaxPercent = 100;
constexpr uint64_t kMaxCelsius = 150;

uint64_t LittleEndian(const std::string& bytes, uint32_t offset, uint32_t width) {
    uint64_t value = 0;
    for (uint32_t i = width; i > 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[offset + i - 1]);
    return value;
}

// The field where the table holds it: absent past the table's end or all ones, absurd
// above `most`.
MetricsField Read(const std::string& bytes, size_t size, Field field, uint64_t most) {
    MetricsField read;
    if (field.offset + field.width > size) return read;
    const uint64_t value = LittleEndian(bytes, field.offset, field.width);
    const uint64_t allOnes = field.width == 8 ? UINT64_MAX : (uint64_t{1} << (8 * field.width)) - 1;
    if (value == allOnes) return read;
    read.state = value > most ? MetricsField::kAbsurd : MetricsField::kRead;
    read.value = value;
    return read;
}

bool AnyBit(uint64_t bits, uint32_t first, uint32_t last) {
    for (uint32_t bit = first; bit <= last; ++bit)
        if ((bits >> bit) & 1) return true;
    return false;
}

}  // namespace

bool gpu_metrics_parse(const std::string& bytes, GpuMetricsTable* table) {
    *table = GpuMetricsTable{};
    if (bytes.size() < 4) return false;
    table->format = static_cast<uint8_t>(bytes[2]);
    table->content = static_cast<uint8_t>(bytes[3]);
    // The table's own size, never beyond what was read.
    const size_t size = std::min<size_t>(LittleEndian(bytes, 0, 2), bytes.size());
    Field throttle{0, 0};
    if (table->format == 1 && table->content >= 1 && table->content <= 3) {
        table->known = true;
        table->memoryActivity = Read(bytes, size, kDiscreteMemoryActivity, kMaxPercent);
        table->hotspotC = Read(bytes, size, kDiscreteHotspot, kMaxCelsius);
        table->memoryC = Read(bytes, size, kDiscreteMemoryTemperature, kMaxCelsius);
        throttle = kDiscreteThrottle;
    } else if (table->format == 2 && table->content == 2) {
        table->known = true;
        throttle = kApuThrottle;
    }
    if (throttle.width == 0) return true;
    table->throttle = Read(bytes, size, throttle, UINT64_MAX);
    if (table->throttle.state == MetricsField::kRead) {
        const uint64_t bits = table->throttle.value;
        table->powerLimited = AnyBit(bits, 0, 7);
        table->thermalLimited = AnyBit(bits, 32, 47);
        table->otherLimited = AnyBit(bits, 16, 23) || AnyBit(bits, 56, 57);
    }
    return true;
}
