#include "host_source.h"

#include <cstring>
#include <utility>

namespace {

std::string FieldText(const char* field, size_t capacity) {
    size_t length = 0;
    while (length < capacity && field[length] != '\0') ++length;
    return std::string(field, length);
}

}  // namespace

std::vector<HostSource> ReadSources(const PluginApi& api, uint32_t count, uint32_t version) {
    std::vector<HostSource> sources;
    sources.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        HOST_SOURCE_DESC desc;
        memset(&desc, 0, sizeof desc);
        desc.version = version;
        HostSource source{i, api.getSourceDesc(i, &desc) != 0, "", "", "", "", 0, 0, 0};
        if (source.described) {
            source.name = FieldText(desc.name, sizeof desc.name);
            source.units = FieldText(desc.units, sizeof desc.units);
            source.description = FieldText(desc.description, sizeof desc.description);
            if (version >= kHostDescVersionWithGroup)
                source.group = FieldText(desc.group, sizeof desc.group);
            source.maxLimit = desc.maxLimit;
            source.minLimit = desc.minLimit;
            source.gridDim = desc.gridDim;
        } else {
            source.name = "Source " + std::to_string(i);
        }
        sources.push_back(source);
    }
    return sources;
}

void SourceHistory::Add(float value) {
    if (capacity_ == 0) return;
    if (values_.size() < capacity_) {
        values_.push_back(value);
    } else {
        values_[next_] = value;
        next_ = (next_ + 1) % capacity_;
    }
}

void SourceHistory::Grow(size_t capacity) {
    if (capacity <= capacity_) return;
    std::vector<float> oldestFirst;
    oldestFirst.reserve(capacity);
    for (size_t age = Size(); age > 0; --age) oldestFirst.push_back(Back(age - 1));
    values_ = std::move(oldestFirst);
    next_ = 0;
    capacity_ = capacity;
}

float SourceHistory::Back(size_t age) const {
    const size_t size = Size();
    if (age >= size) return 0;
    if (values_.size() < capacity_) return values_[size - 1 - age];
    return values_[(next_ + capacity_ - 1 - age) % capacity_];
}
