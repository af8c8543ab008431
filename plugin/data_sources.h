// The configured sources: one record per source section, in file order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct ZARMITE_DATA_SOURCE_DESC {
    char id[32];  // the "ID" text; the counter index is the integer at its start
    char name[32];
    char units[32];
    char description[64];
    char group[16];
    int32_t modType;
    float modFactor;
    float maxLimit;
    float minLimit;
    float gridDim;
};

// Owns the records. Destroying the list runs ClearSources, which also ends the counter
// library's use by this module.
class CZarmiteDataSources {
public:
    CZarmiteDataSources() = default;
    CZarmiteDataSources(const CZarmiteDataSources&) = delete;
    CZarmiteDataSources& operator=(const CZarmiteDataSources&) = delete;
    ~CZarmiteDataSources();

    void AddTail(std::unique_ptr<ZARMITE_DATA_SOURCE_DESC> record);
    // The record at a position, or null for any position outside 0 to count - 1.
    const ZARMITE_DATA_SOURCE_DESC* At(int64_t position) const;
    size_t Count() const { return records_.size(); }

    // Frees every record, then calls RemoveAllCounters and Shutdown.
    void ClearSources();

private:
    std::vector<std::unique_ptr<ZARMITE_DATA_SOURCE_DESC>> records_;
};
