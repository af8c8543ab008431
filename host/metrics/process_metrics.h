// The process metrics that Prometheus' client libraries export on Linux, for the host
// itself: CPU time, resident memory, open and allowed file descriptors, start time. They
// go to the endpoint only: in a textfile they would clash with the collector's own.
#pragma once

#include <string>

// The families as exposition text, read from /proc now; a figure that cannot be read is
// left out.
std::string ProcessFamilies();

// The same from the given files' contents (for the tests): /proc/self/stat, /proc/stat,
// the count of open descriptors (-1: unknown) and their limit (-1: unknown).
std::string ProcessFamiliesFrom(const std::string& selfStat, const std::string& systemStat,
                                long openFiles, long maxFiles, long ticksPerSecond, long pageBytes);
