// Output for scripts: a round of values as a CSV line or a JSON Lines object, and the
// lines that come first (the CSV header, the JSON descriptors).
#pragma once

#include <string>
#include <vector>

#include "gpu_processes.h"
#include "host_source.h"
#include "platform.h"

// A field quoted as RFC 4180 has it: in double quotes, with quotes doubled, when it holds
// a comma, a quote, a CR or an LF; otherwise as it is. Bytes that are not UTF-8 become
// U+FFFD, as in JSON.
std::string CsvField(const std::string& text);
std::string CsvHeader(const std::vector<HostSource>& sources);
// A failed reading (one of the plug-in's failure values) is an empty field; a reading is
// its shortest text.
std::string CsvRound(const std::string& timestamp, const std::vector<float>& values);

// A JSON string: quotes, backslashes and control characters escaped; bytes that are not
// UTF-8 become U+FFFD, so that every line is valid JSON.
std::string JsonString(const std::string& text);
// A value as the shortest JSON number that reads back as the same float; not finite: null.
// In a round, a failed reading is null with "failed" beside it, saying what failed.
std::string JsonNumber(float value);
std::string JsonDescriptors(const std::vector<HostSource>& sources);
// A round's object; `members` (",\"name\":value..." or "") goes after its values.
std::string JsonRound(const std::string& timestamp, const std::vector<HostSource>& sources,
                      const std::vector<float>& values, const std::string& members = "");
// A round's processes as members of its object: "processes", an array of one object a
// process and GPU ({"gpu", "pid", "name", "user", "busy": {class: percent of the round},
// "memory": {"device", "system"} in bytes, "shared"}), and "processes_unreadable".
std::string JsonProcesses(const GpuProcessRound& round);
