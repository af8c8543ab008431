#include "exposition.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "host_text.h"
#include "platform.h"
#include "readings.h"

namespace {

// Our own families: a source whose name would give one of these is named by its index.
const char* const kOwnFamilies[] = {"zarmite_build_info",
                                    "zarmite_source_info",
                                    "zarmite_source_up",
                                    "zarmite_source_failed_readings_total",
                                    "zarmite_round_timestamp_seconds",
                                    "zarmite_round_duration_seconds",
                                    "zarmite_rounds_total"};

// A text from the plug-in as valid UTF-8.
std::string Utf8(const std::string& hostText) {
    return ValidUtf8(plat_host_text_to_utf8(hostText));
}

// HELP escapes backslashes and line feeds; label values double quotes too.
std::string Escaped(const std::string& text, bool quotes) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '"' && quotes)
            out += "\\\"";
        else
            out += c;
    }
    return out;
}

std::string Label(const char* name, const std::string& value) {
    return std::string(name) + "=\"" + Escaped(Utf8(value), true) + "\"";
}

}  // namespace

std::string MetricLabel(const char* name, const std::string& value) {
    return std::string(name) + "=\"" + Escaped(ValidUtf8(value), true) + "\"";
}

std::string MetricNumber(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    char text[40];
    for (int precision = 15; precision <= 17; ++precision) {
        snprintf(text, sizeof text, "%.*g", precision, value);
        if (strtod(text, nullptr) == value) break;
    }
    return text;
}

void FamilyHeader(std::string& out, const char* name, const char* type, const char* help) {
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

namespace {

// The power of ten that `factor` is, where it is one (1 to 10^12).
bool DecimalExponent(double factor, int* exponent) {
    double power = 1;
    for (int k = 0; k <= 12; ++k, power *= 10) {
        if (factor != power) continue;
        *exponent = k;
        return true;
    }
    return false;
}

// A reading in its family's unit. The float's shortest text comes first, so that its
// binary noise stays out (1.744, not 1.74399995803833); it is then scaled by moving the
// decimal point where the units differ by a power of ten (1.744 % is 0.01744), and by
// multiplying otherwise (MiB to bytes).
std::string ReadingNumber(float reading, const BaseUnit& unit) {
    const double value = static_cast<double>(reading);
    if (!std::isfinite(reading)) return MetricNumber(value * unit.multiplier / unit.divisor);
    char text[48];
    snprintf(text, sizeof text, "%s", ShortestFloatG(reading).c_str());
    int up = 0, down = 0;
    if (!DecimalExponent(unit.multiplier, &up) || !DecimalExponent(unit.divisor, &down))
        return MetricNumber(strtod(text, nullptr) * unit.multiplier / unit.divisor);
    char* exponent = strchr(text, 'e');
    const long shift = (exponent != nullptr ? strtol(exponent + 1, nullptr, 10) : 0) + up - down;
    if (exponent != nullptr) *exponent = '\0';
    return MetricNumber(strtod((std::string(text) + "e" + std::to_string(shift)).c_str(), nullptr));
}

}  // namespace

BaseUnit BaseUnitOf(const std::string& units) {
    static const std::string celsius = plat_utf8_to_host_text(
        "\xC2\xB0"
        "C");
    static const char kRatio[] = "as a ratio (1 is 100 %)";
    const struct {
        const char* units;
        BaseUnit unit;
    } table[] = {
        {"%", {"_ratio", 1, 100, kRatio}},
        {"Hz", {"_hertz", 1, 1, "in hertz"}},
        {"kHz", {"_hertz", 1e3, 1, "in hertz"}},
        {"MHz", {"_hertz", 1e6, 1, "in hertz"}},
        {"GHz", {"_hertz", 1e9, 1, "in hertz"}},
        {"mW", {"_watts", 1, 1000, "in watts"}},
        {"W", {"_watts", 1, 1, "in watts"}},
        {"mV", {"_volts", 1, 1000, "in volts"}},
        {"V", {"_volts", 1, 1, "in volts"}},
        {"mA", {"_amperes", 1, 1000, "in amperes"}},
        {"A", {"_amperes", 1, 1, "in amperes"}},
        {"mJ", {"_joules", 1, 1000, "in joules"}},
        {"J", {"_joules", 1, 1, "in joules"}},
        {"B", {"_bytes", 1, 1, "in bytes"}},
        {"KiB", {"_bytes", 1024, 1, "in bytes"}},
        {"MiB", {"_bytes", 1048576, 1, "in bytes"}},
        {"GiB", {"_bytes", 1073741824, 1, "in bytes"}},
        {"B/s", {"_bytes_per_second", 1, 1, "in bytes per second"}},
        {"KB/s", {"_bytes_per_second", 1000, 1, "in bytes per second"}},
        {"MB/s", {"_bytes_per_second", 1e6, 1, "in bytes per second"}},
        {"s", {"_seconds", 1, 1, "in seconds"}},
        {"ms", {"_seconds", 1, 1000, "in seconds"}},
        {"us", {"_seconds", 1, 1e6, "in seconds"}},
        {"C", {"_celsius", 1, 1, "in degrees Celsius"}},
    };
    for (const auto& row : table)
        if (units == row.units) return row.unit;
    if (!celsius.empty() && units == celsius)
        return BaseUnit{"_celsius", 1, 1, "in degrees Celsius"};
    return BaseUnit{"", 1, 1, ""};
}

std::string FamilyName(const std::string& name, uint32_t index, const std::string& units) {
    std::string base;
    bool gap = false;
    for (char c : name) {
        const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        if ((lower >= 'a' && lower <= 'z') || (lower >= '0' && lower <= '9')) {
            if (gap && !base.empty()) base += '_';
            base += lower;
            gap = false;
        } else {
            gap = true;
        }
    }
    if (base.empty()) base = "source" + std::to_string(index);
    std::string family = "zarmite_" + base + BaseUnitOf(units).suffix;
    for (const char* own : kOwnFamilies)
        if (family == own)
            family = "zarmite_source" + std::to_string(index) + BaseUnitOf(units).suffix;
    for (const char* kept : {"_total", "_count", "_sum", "_bucket"}) {
        const size_t length = strlen(kept);
        if (family.size() > length && family.compare(family.size() - length, length, kept) == 0)
            return family + "_value";
    }
    return family;
}

bool IsFailedReading(float value) {
    return FailedReadingName(value) != nullptr || !std::isfinite(value);
}

namespace {

// What a family's values are in, as its HELP says it: the base unit, or the source's own
// units where they have none.
std::string UnitPhrase(const std::string& units) {
    const BaseUnit unit = BaseUnitOf(units);
    if (*unit.suffix != '\0') return std::string(", ") + unit.words;
    return units.empty() ? "" : ", in " + units;
}

// The unit a series is exported in: the base unit, or the source's units as they are. A
// family holds one of them only.
std::string ExportedUnit(const std::string& units) {
    const BaseUnit unit = BaseUnitOf(units);
    return *unit.suffix != '\0' ? std::string(unit.suffix) : "as is: " + units;
}

}  // namespace

Exposition::Exposition(const std::vector<HostSource>& sources, const std::vector<bool>& cumulative)
    : sources_(sources), failed_(sources.size(), 0), up_(sources.size(), false) {
    // Families in the order of their first source; a family's series stay together. A
    // source whose family already holds another unit (a "p ratio" in Raw beside a "p" in
    // %) is named by its index instead, so that no family mixes units.
    std::map<std::string, size_t> familyAt;
    std::map<std::string, std::string> familyUnit;
    std::vector<std::string> names(sources.size());
    for (size_t i = 0; i < sources.size(); ++i) {
        const HostSource& source = sources[i];
        // A count that only grows is a counter, whose name ends in "_total"; a gauge's never
        // does, so the two never share a family.
        const bool counts = i < cumulative.size() && cumulative[i];
        const char* total = counts ? "_total" : "";
        names[i] = FamilyName(source.name, static_cast<uint32_t>(i), source.units) + total;
        const std::string unit = ExportedUnit(source.units);
        const auto known = familyUnit.emplace(names[i], unit).first;
        if (known->second != unit) {
            names[i] =
                FamilyName("source" + std::to_string(i), static_cast<uint32_t>(i), source.units) +
                total;
            familyUnit.emplace(names[i], unit);
        }
        auto found = familyAt.find(names[i]);
        if (found == familyAt.end()) {
            // One line for the family: what its series measure, in the unit exported.
            const std::string name =
                source.name.empty() ? "Source " + std::to_string(i) : source.name;
            found = familyAt.emplace(names[i], families_.size()).first;
            families_.push_back(
                SourceFamily{names[i],
                             counts ? "counter" : "gauge",
                             Escaped(Utf8(name + UnitPhrase(source.units) +
                                          (counts ? ", a count that only grows" : "")),
                                     false),
                             {}});
        }
        // Every series has the same labels whatever the other sources are: its group and
        // its position in the configuration, which zarmite_source_info is joined on.
        std::string labels = "{";
        if (!source.group.empty()) labels += Label("group", source.group) + ",";
        labels += "source=\"" + std::to_string(i) + "\"}";
        families_[found->second].series.push_back(Series{i, labels, BaseUnitOf(source.units)});
    }
    FamilyHeader(infoFamily_, "zarmite_source_info", "gauge",
                 "Each source of the configuration, and the family that holds its series");
    for (size_t i = 0; i < sources.size(); ++i) {
        infoFamily_ += "zarmite_source_info{source=\"" + std::to_string(i) + "\"," +
                       Label("name", sources[i].name) + "," + Label("units", sources[i].units) +
                       "," + Label("group", sources[i].group) + ",metric=\"" + names[i] + "\"} 1\n";
    }
    infoFamily_ += BuildFamily();
}

std::string Exposition::BuildFamily() {
    std::string out;
    FamilyHeader(out, "zarmite_build_info", "gauge", "The host's version; the value is always 1");
    return out + "zarmite_build_info{version=\"" ZARMITE_VERSION "\"} 1\n";
}

std::string Exposition::RoundFamilies(const HostRound* round) {
    std::string out;
    FamilyHeader(out, "zarmite_round_timestamp_seconds", "gauge",
                 "When the latest round of polling ended, in seconds since 1970");
    out += "zarmite_round_timestamp_seconds " + MetricNumber(round ? round->unixSeconds : 0) + "\n";
    FamilyHeader(out, "zarmite_round_duration_seconds", "gauge",
                 "How long the latest round of polling took");
    out +=
        "zarmite_round_duration_seconds " + MetricNumber(round ? round->durationSeconds : 0) + "\n";
    FamilyHeader(out, "zarmite_rounds_total", "counter", "Rounds of polling completed");
    out += "zarmite_rounds_total " + std::to_string(round ? round->number : 0) + "\n";
    return out;
}

std::string Exposition::BeforeFirstRound() {
    return BuildFamily() + RoundFamilies(nullptr);
}

std::string Exposition::Take(const HostRound& round) {
    std::string out;
    out.reserve(256 * (sources_.size() + 4));
    for (size_t i = 0; i < sources_.size() && i < round.values.size(); ++i) {
        up_[i] = !IsFailedReading(round.values[i]);
        if (!up_[i]) ++failed_[i];
    }
    for (const SourceFamily& family : families_) {
        out += "# HELP " + family.name + " " + family.help + "\n# TYPE " + family.name + " " +
               family.type + "\n";
        for (const Series& series : family.series) {
            if (series.source >= round.values.size() || !up_[series.source]) continue;
            out += family.name + series.labels + " " +
                   ReadingNumber(round.values[series.source], series.unit) + "\n";
        }
    }
    out += infoFamily_;
    FamilyHeader(out, "zarmite_source_up", "gauge",
                 "1 when the source's latest reading was good, 0 when it failed");
    for (size_t i = 0; i < sources_.size(); ++i)
        out +=
            "zarmite_source_up{source=\"" + std::to_string(i) + "\"} " + (up_[i] ? "1\n" : "0\n");
    FamilyHeader(out, "zarmite_source_failed_readings_total", "counter",
                 "Readings of the source that failed");
    for (size_t i = 0; i < sources_.size(); ++i)
        out += "zarmite_source_failed_readings_total{source=\"" + std::to_string(i) + "\"} " +
               std::to_string(failed_[i]) + "\n";
    return out + RoundFamilies(&round);
}
