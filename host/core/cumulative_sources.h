// Which sources show a count that only grows (energy, errors), for outputs that treat such
// counts apart (Prometheus' counters): the counter library the plug-in loaded says which of
// its counters are (kCounterCumulativeAttribute), and a source shows one when its GPU and
// figure are the counter's (gpu<g>_<figure>, or group GPU<g> and name <figure>, unit words
// aside: the fleet script's names and the libraries' own).
#pragma once

#include <string>
#include <vector>

#include "host_source.h"

// From the loaded counter library; none where no library is loaded or it refuses the
// attribute. Binds this module's own table to the library the plug-in loaded, which it
// never shuts down.
std::vector<bool> CumulativeSources(const std::vector<HostSource>& sources);

// The matching alone: the sources that show one of the counters named in `cumulative`.
std::vector<bool> SourcesShowing(const std::vector<HostSource>& sources,
                                 const std::vector<std::string>& cumulative);
