// The sources as Prometheus reads them: the text exposition format, version 0.0.4. Each
// source is one series of a gauge family named from its name and units (of a counter
// family, with "_total" after them, where the source shows a count that only grows), in
// base units where its units are known, labelled with its group and its position in the
// configuration; beside them, what ties a series back to its source, whether its last
// reading was good, the rounds themselves and the build. Pure text, built once a round.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host_round.h"
#include "host_source.h"

// How a source's units become Prometheus' base units: the family's suffix, and what its
// values are multiplied and then divided by. Units outside the table: no suffix, as is.
struct BaseUnit {
    const char* suffix;
    double multiplier;
    double divisor;
    const char* words;  // the exported unit, for HELP
};
BaseUnit BaseUnitOf(const std::string& units);

// The family name of a source: "zarmite_", its name in lower case with every run of
// other characters than a-z and 0-9 made one "_" and "_" trimmed at both ends (empty, or
// one of the host's own families: "source<index>"), then the unit suffix; "_value" after
// a name that would end in "_total", "_count", "_sum" or "_bucket", which Prometheus
// keeps for counters, histograms and summaries.
std::string FamilyName(const std::string& name, uint32_t index, const std::string& units);

// The shortest decimal text that reads back as the same double; NaN, +Inf, -Inf as the
// exposition writes them.
std::string MetricNumber(double value);

// A label as the exposition writes it, `name="value"`: the value made valid UTF-8 (it is
// UTF-8 already, from a library or a file: untrusted) with backslashes, double quotes and
// line feeds escaped.
std::string MetricLabel(const char* name, const std::string& value);

// A family's HELP and TYPE lines, appended to `out`.
void FamilyHeader(std::string& out, const char* name, const char* type, const char* help);

// Whether a value the plug-in returned is a failed reading: one of its in-band failure
// values, bit for bit, or not finite.
bool IsFailedReading(float value);

class Exposition {
public:
    // `cumulative`: which sources show a count that only grows (none where it is short).
    explicit Exposition(const std::vector<HostSource>& sources,
                        const std::vector<bool>& cumulative = {});
    // The text before the first round: the round's own families, no source series.
    static std::string BeforeFirstRound();
    // Takes a round in (counting failed readings) and returns the text it gives.
    std::string Take(const HostRound& round);

private:
    struct Series {
        size_t source;
        std::string labels;  // {group="..",source=".."}, the group left out where empty
        BaseUnit unit;
    };
    struct SourceFamily {
        std::string name;
        const char* type;  // "gauge" or "counter"
        std::string help;
        std::vector<Series> series;
    };
    static std::string RoundFamilies(const HostRound* round);
    static std::string BuildFamily();

    std::vector<HostSource> sources_;
    std::vector<SourceFamily> families_;
    std::string infoFamily_;  // zarmite_source_info, the same every round
    std::vector<uint64_t> failed_;
    std::vector<bool> up_;
};
