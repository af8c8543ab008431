#include "load_sources.h"

#include <cstdio>
#include <memory>
#include <new>

#include "counter_library.h"
#include "counter_text.h"
#include "ini_document.h"
#include "module_state.h"
#include "number_text.h"

namespace {

constexpr size_t kValueCapacity = 260;
constexpr char kUnknownText[] = "Unknown";

template <size_t N>
void SetText(char (&field)[N], const char* text) {
    CopyText(field, N, text, kValueCapacity);
}

template <size_t N>
void SetCounterText(char (&field)[N], int32_t (*query)(int32_t, CounterTextBuffer*),
                    int32_t counter) {
    CounterTextBuffer buffer;
    if (query(counter, &buffer) == 0) {
        CopyText(field, N, buffer.text, sizeof buffer.text);
    } else {
        SetText(field, kUnknownText);
    }
}

const char* UnitsOfKind(int32_t counter) {
    uint64_t kind = 0;
    if (GetCounterAttribute(counter, kCounterKindAttribute, &kind) != 0) return "?";
    return kind != 0 ? "Raw" : "%";
}

void ReadFloat(const IniDocument& config, const char* section, const char* key, float* out) {
    char text[kValueCapacity];
    config.GetString(section, key, text, sizeof text);
    ParseLeadingFloat(text, out);
}

std::unique_ptr<ZARMITE_DATA_SOURCE_DESC> ReadSource(const IniDocument& config, const char* section,
                                                     const char* idText) {
    auto record = std::make_unique<ZARMITE_DATA_SOURCE_DESC>();  // zero-filled
    SetText(record->id, idText);
    int32_t counter = 0;
    // An ID that names no counter keeps its place in the list, but the library is not
    // asked about it.
    const bool namesCounter = ParseCounterIndex(record->id, &counter);

    config.GetString(section, "Name", record->name, sizeof record->name);
    if (record->name[0] == '\0') {
        if (namesCounter)
            SetCounterText(record->name, QueryCounterName, counter);
        else
            SetText(record->name, kUnknownText);
    }
    if (namesCounter)
        SetCounterText(record->description, QueryCounterDescription, counter);
    else
        SetText(record->description, kUnknownText);

    config.GetString(section, "Dim", record->units, sizeof record->units);
    if (record->units[0] == '\0') SetText(record->units, namesCounter ? UnitsOfKind(counter) : "?");

    ReadFloat(config, section, "MaxLimit", &record->maxLimit);
    ReadFloat(config, section, "MinLimit", &record->minLimit);
    ReadFloat(config, section, "GridDim", &record->gridDim);
    config.GetString(section, "Group", record->group, sizeof record->group);
    char modType[kValueCapacity];
    config.GetString(section, "ModType", modType, sizeof modType);
    ParseLeadingInt32(modType, &record->modType);
    ReadFloat(config, section, "ModFactor", &record->modFactor);
    return record;
}

}  // namespace

void ClearSources() {
    g_sources.ClearSources();
}

int LoadSourcesFrom(const IniDocument& config) {
    ClearSources();
    if (BindCounterLibrary() != 0) return 0;
    try {
        for (int32_t i = 0; i < 0x7FFFFFFF; ++i) {
            char section[24];
            snprintf(section, sizeof section, "Source%d", i);
            char idText[kValueCapacity];
            if (config.GetString(section, "ID", idText, sizeof idText) == 0) break;
            g_sources.AddTail(ReadSource(config, section, idText));
        }
    } catch (const std::bad_alloc&) {
        // A list cut short would shift no positions but silently lose sources: offer none.
        ClearSources();
        return 0;
    }
    return 1;
}

int LoadSources(const char* path) {
    return LoadSourcesFrom(IniDocument::Load(path));
}
