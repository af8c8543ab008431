// The descriptor that the monitoring host owns and hands to GetSourceDesc. Its layout is
// the host's and is fixed byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>

// Descriptors of this version or later have a group field.
constexpr uint32_t kHostDescVersionWithGroup = 0x00010002;

struct HOST_SOURCE_DESC {
    uint32_t version;  // set by the host
    char name[32];
    char units[32];
    float maxLimit;
    float minLimit;
    float gridDim;
    char description[64];
    char group[16];  // only from version 0x00010002 on
};

static_assert(offsetof(HOST_SOURCE_DESC, version) == 0, "layout");
static_assert(offsetof(HOST_SOURCE_DESC, name) == 4, "layout");
static_assert(offsetof(HOST_SOURCE_DESC, units) == 36, "layout");
static_assert(offsetof(HOST_SOURCE_DESC, maxLimit) == 68, "layout");
static_assert(offsetof(HOST_SOURCE_DESC, minLimit) == 72, "layout");
static_assert(offsetof(HOST_SOURCE_DESC, gridDim) == 76, "layout");
static_assert(offsetof(HOST_SOURCE_DESC, description) == 80, "layout");
static_assert(offsetof(HOST_SOURCE_DESC, group) == 144, "layout");
static_assert(sizeof(HOST_SOURCE_DESC) == 160, "layout");
static_assert(sizeof(float) == 4, "32-bit floats");
