// zarmite-host --watch: a full-screen terminal view of every source, redrawn at every poll,
// as a monitoring host draws them. Built on ncurses, for the Linux build.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "host_round.h"
#include "host_source.h"
#include "plugin_api.h"
#include "poll_loop.h"

// Runs the host's loop of rounds, drawing each (and handing it to `others`, the other
// outputs), until q, Esc or Ctrl+C; restores the terminal before it returns. Space freezes
// the view only; + and - step the interval. Returns the exit status.
// Draws in colour unless `noColour`, NO_COLOR or the terminal says otherwise, and with
// block characters where the locale is UTF-8.
int RunWatch(const PluginApi& api, const std::vector<HostSource>& sources, uint32_t intervalMs,
             bool noColour, const RoundConsumer& others);

// The processor time one redraw of `count` sources with full histories takes on a terminal
// of `width` x `height` that writes to nothing, in milliseconds (the mean of `redraws`). In
// colour, with the glyphs the locale allows.
double TimeRedraw(size_t count, int width, int height, int redraws);
