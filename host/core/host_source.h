// What a host knows of each source: its descriptor, taken once, and the values polled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "plugin_api.h"

struct HostSource {
    uint32_t index;
    bool described;  // false: the plug-in refused the descriptor
    std::string name;
    std::string units;
    std::string description;
    std::string group;  // empty when the descriptor version has no group
    float maxLimit;
    float minLimit;
    float gridDim;
};

// The descriptors of sources 0 to count - 1, as a host announcing `version` gets them.
// Texts the plug-in left unterminated are cut at their field's end.
std::vector<HostSource> ReadSources(const PluginApi& api, uint32_t count, uint32_t version);

// The last values of one source, oldest first, at most `capacity` of them.
class SourceHistory {
public:
    explicit SourceHistory(size_t capacity) : capacity_(capacity) {}
    void Add(float value);
    // Keeps room for `capacity` values from now on, keeping those held; never shrinks.
    void Grow(size_t capacity);
    size_t Capacity() const { return capacity_; }
    size_t Size() const { return values_.size() < capacity_ ? values_.size() : capacity_; }
    // The value `age` polls ago: 0 is the newest.
    float Back(size_t age) const;

private:
    size_t capacity_;
    size_t next_ = 0;
    std::vector<float> values_;
};
