#include "script_output.h"

#include <cmath>
#include <cstdio>

#include "host_text.h"
#include "readings.h"

std::string CsvField(const std::string& rawText) {
    const std::string text = ValidUtf8(rawText);
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string CsvHeader(const std::vector<HostSource>& sources) {
    std::string line = "timestamp";
    for (const HostSource& source : sources) {
        line += ",";
        line +=
            CsvField(source.units.empty() ? source.name : source.name + " (" + source.units + ")");
    }
    return line + "\n";
}

std::string CsvRound(const std::string& timestamp, const std::vector<float>& values) {
    std::string line = timestamp;
    for (float value : values)
        line += "," + (FailedReadingName(value) != nullptr ? std::string() : FloatText(value));
    return line + "\n";
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
            ++i;
        } else if (const size_t length = Utf8Length(text, i)) {
            out.append(text, i, length);
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out + "\"";
}

std::string JsonNumber(float value) {
    return std::isfinite(value) ? FloatText(value) : "null";
}

namespace {

// A reading, or null with what failed beside it.
std::string JsonValue(float value) {
    const char* failed = FailedReadingName(value);
    return failed == nullptr ? JsonNumber(value) : "null,\"failed\":" + JsonString(failed);
}

}  // namespace

std::string JsonDescriptors(const std::vector<HostSource>& sources) {
    std::string line = "{\"sources\":[";
    for (size_t i = 0; i < sources.size(); ++i) {
        const HostSource& s = sources[i];
        if (i > 0) line += ",";
        line += "{\"index\":" + std::to_string(s.index) + ",\"name\":" + JsonString(s.name) +
                ",\"units\":" + JsonString(s.units) +
                ",\"description\":" + JsonString(s.description) +
                ",\"group\":" + JsonString(s.group) + ",\"minLimit\":" + JsonNumber(s.minLimit) +
                ",\"maxLimit\":" + JsonNumber(s.maxLimit) +
                ",\"gridDim\":" + JsonNumber(s.gridDim) + "}";
    }
    return line + "]}\n";
}

std::string JsonRound(const std::string& timestamp, const std::vector<HostSource>& sources,
                      const std::vector<float>& values, const std::string& members) {
    std::string line = "{\"timestamp\":" + JsonString(timestamp) + ",\"values\":[";
    for (size_t i = 0; i < sources.size() && i < values.size(); ++i) {
        if (i > 0) line += ",";
        line += "{\"index\":" + std::to_string(sources[i].index) +
                ",\"name\":" + JsonString(sources[i].name) +
                ",\"units\":" + JsonString(sources[i].units) +
                ",\"value\":" + JsonValue(values[i]) + "}";
    }
    return line + "]" + members + "}\n";
}

namespace {

// A share in percent with at most two decimals: 60, 2.5, 0.01.
std::string JsonPercent(double percent) {
    char number[32];
    snprintf(number, sizeof number, "%.2f", percent);
    std::string text = number;
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
    return text;
}

}  // namespace

std::string JsonProcesses(const GpuProcessRound& round) {
    std::string out = ",\"processes\":[";
    for (size_t i = 0; i < round.processes.size(); ++i) {
        const GpuProcess& p = round.processes[i];
        if (i > 0) out += ",";
        out += "{\"gpu\":" + std::to_string(p.gpu) + ",\"pid\":" + std::to_string(p.pid) +
               ",\"name\":" + JsonString(p.name) + ",\"user\":" + JsonString(p.user) +
               ",\"busy\":{";
        bool first = true;
        for (uint32_t c = 0; c < kGpuEngineClasses; ++c) {
            if (p.busyPercent[c] < 0) continue;
            out += std::string(first ? "" : ",") + "\"" + kGpuEngineClassNames[c] +
                   "\":" + JsonPercent(p.busyPercent[c]);
            first = false;
        }
        out += "},\"memory\":{\"device\":" + std::to_string(p.deviceBytes) +
               ",\"system\":" + std::to_string(p.systemBytes) +
               "},\"shared\":" + (p.shared ? "true" : "false") + ",\"clients\":[";
        for (size_t c = 0; c < p.clients.size(); ++c)
            out += (c > 0 ? "," : "") + std::to_string(p.clients[c]);
        out += "]}";
    }
    out += "],\"processes_unreadable\":" + std::to_string(round.unreadable);
    out += ",\"processes_unattributed\":[";
    for (size_t i = 0; i < round.unattributed.size(); ++i)
        out += std::string(i > 0 ? "," : "") +
               "{\"gpu\":" + std::to_string(round.unattributed[i].gpu) +
               ",\"busy\":" + JsonPercent(round.unattributed[i].busyPercent) + "}";
    out += "],\"processes_not_read\":[";
    for (size_t i = 0; i < round.unread.size(); ++i)
        out += std::string(i > 0 ? "," : "") + "{\"gpu\":" + std::to_string(round.unread[i].gpu) +
               ",\"late\":" + std::to_string(round.unread[i].lateClients) +
               ",\"left_out\":" + std::to_string(round.unread[i].leftOut) + "}";
    return out + "]";
}
