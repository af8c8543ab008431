#include "data_sources.h"

#include "counter_library.h"

CZarmiteDataSources::~CZarmiteDataSources() {
    ClearSources();
}

void CZarmiteDataSources::AddTail(std::unique_ptr<ZARMITE_DATA_SOURCE_DESC> record) {
    records_.push_back(std::move(record));
}

const ZARMITE_DATA_SOURCE_DESC* CZarmiteDataSources::At(int64_t position) const {
    if (position < 0 || static_cast<uint64_t>(position) >= records_.size()) return nullptr;
    return records_[static_cast<size_t>(position)].get();
}

void CZarmiteDataSources::ClearSources() {
    records_.clear();
    records_.shrink_to_fit();
    RemoveAllCounters();
    Shutdown();
}
