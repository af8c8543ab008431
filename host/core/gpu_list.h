// zarmite-host --gpus: the GPUs that the counter library found, each with what it can read
// and what it cannot and why, from the library's own counters (their gpu<g>_ names, the
// GPU their descriptions name, what those say is not available) and one reading of each.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "gpu_processes.h"

struct ListedCounter {
    std::string name;
    std::string description;
    int32_t status;          // of one reading: 0, or why it failed
    double value = NAN;      // that reading, a share in percent where the counter is one
    std::string units = "";  // "%" for a share; else from the name's unit word, or ""
};

// The list as text: a line a GPU (its number, then what the descriptions say of it: make
// and driver, PCI address, model), what it reads and what it does not and why, and what
// it reads now (where a reading came, large ones in larger units); or a line that says
// that no GPU was found; and, for a GPU whose look at its clients could not see them all
// (`unread`), what was left out. `library`: the counter library's file; `gpu`: only that
// GPU (-1: every one).
std::string GpuListText(const std::string& library, const std::vector<ListedCounter>& counters,
                        int gpu = -1, const std::vector<GpuUnread>& unread = {});

// Binds the counter library, reads every counter (twice, a sample period apart, at most a
// second, so that shares cover an interval) and writes the list to standard output; 0
// with a GPU found, 1 without, 3 when no counter library could be started.
int ListGpus(int gpu = -1);
