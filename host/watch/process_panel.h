// The live view's process panel: who uses the GPU, one row a process and GPU (PID, user,
// GPU, the busy share of its busiest engine classes, device and system memory, the
// command), under the graphs. Pure text, so that the tests draw it.
#pragma once

#include <string>
#include <vector>

#include "gpu_processes.h"

enum class ProcessOrder { kBusy, kMemory, kPid };

// The next order, as the key o steps through them; and its name.
ProcessOrder NextProcessOrder(ProcessOrder order);
const char* ProcessOrderName(ProcessOrder order);

// The panel's lines, each at most `width` columns of printable ASCII (a name's control
// characters escaped, other characters shown as "?"), at most `rows` of them: a heading,
// the processes in `order` from the `first` on (as many as fit; `first` is brought back
// where fewer would show than fit), and a last line that says how many there are and
// which are shown, how many processes could not be read and how busy each GPU was beyond
// what its processes account for, or that the counter library gives no per-process data.
// The busy column narrows, then goes, so that 20 characters of the command show.
std::vector<std::string> ProcessPanelLines(const GpuProcessRound& round, ProcessOrder order,
                                           int width, int rows, size_t first = 0);
