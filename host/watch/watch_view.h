// zarmite-host --watch: a full-screen terminal view of every source, redrawn at every poll,
// as a monitoring host draws them. Built on ncurses, for the Linux build.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "gpu_processes.h"
#include "host_round.h"
#include "host_source.h"
#include "poll_loop.h"

// Runs the host's loop of rounds with `loop` (the view never calls the plug-in), drawing
// each round and handing it on, until q, Esc or Ctrl+C; restores the terminal before it
// returns. Space freezes the view only; + and - step the interval. Returns the exit status.
// Draws in colour unless `noColour`, NO_COLOR or the terminal says otherwise, and with
// block characters where the locale is UTF-8.
using RoundLoop =
    std::function<int(PollSchedule& schedule, const RoundConsumer& draw, const RoundWait& keys)>;
// `processes` gives who uses the GPU each round, shown under the graphs (p hides it, o
// orders it).
int RunWatch(const std::vector<HostSource>& sources, uint32_t intervalMs, bool noColour,
             const std::function<GpuProcessRound()>& processes, const RoundLoop& loop);

// The processor time one redraw of `count` sources with full histories takes on a terminal
// of `width` x `height` that writes to nothing, in milliseconds (the mean of `redraws`). In
// colour, with the glyphs the locale allows.
double TimeRedraw(size_t count, int width, int height, int redraws);
