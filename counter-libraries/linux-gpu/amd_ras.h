// An AMD GPU's memory and block error counts from its RAS files (device/ras/<block>_
// err_count: "ue: N" uncorrectable, "ce: N" correctable), summed over the blocks. Only
// boards with RAS have them; a read may fail while the GPU recovers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The error-count files under the PCI device folder `device`; none without RAS.
std::vector<std::string> amd_ras_files(const std::string& device);

struct RasCounts {
    bool read = false;  // at least one file held both figures
    uint64_t uncorrectable = 0;
    uint64_t correctable = 0;
};
RasCounts amd_read_ras(const std::vector<std::string>& files);
// The two figures of one file's text; false where either is missing.
bool amd_parse_ras(const std::string& text, uint64_t* uncorrectable, uint64_t* correctable);
