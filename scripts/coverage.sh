#!/usr/bin/env bash
# Line and branch coverage of the project's own code by the native test suite: the
# platform layer, the binding, the plug-in, the probe, the NVML and GPU counter libraries
# and their sampler, and what the host draws (its graphs and overview) and writes for scripts. The tests, the simulated counter
# library and the driver's stand-in, the host's option handling and terminal layer (tested
# end to end under tmux), the tools that only tests and benchmarks use (child processes,
# process statistics), the fuzz targets and the benchmarks are left out of the figures. Fails below 95 % of lines or 85 % of branches.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

build=build/coverage
cmake --preset coverage >/dev/null
cmake --build --preset coverage
find "$build" -name '*.gcda' -delete
ctest --preset coverage
# Branches the compiler adds for exceptions it cannot throw here are not the code's own.
# The coverage data is searched for in the build folder only: from the clone's root the
# walk would follow the Wine prefix's link to / and read every file system on the machine.
gcovr --root . --object-directory "$build" "$build" \
  --filter 'platform/' --filter 'counterlib/' --filter 'plugin/' --filter 'ZarmiteCLI/' \
  --filter 'counter-libraries/nvml/' --filter 'counter-libraries/linux-gpu/' --filter 'counter-libraries/sampling/' --filter 'counter-libraries/common/' \
  --filter 'counter-libraries/windows-gpu/gpu_instances' --filter 'counter-libraries/windows-gpu/adapter_counters' \
  --filter 'host/watch/strip_chart' --filter 'host/scripts/script_output' --filter 'host/core/host_source' \
  --filter 'host/metrics/exposition' --filter 'host/core/host_text' --filter 'host/metrics/listen_address' \
  --filter 'host/watch/gpu_overview' --filter 'host/core/gpu_sources' --filter 'host/core/value_units' \
  --exclude 'platform/.*/child_process.cpp' --exclude 'platform/.*/process_stats.cpp' \
  --exclude-throw-branches --exclude-unreachable-branches \
  --print-summary --txt "$build/coverage.txt" \
  --fail-under-line 95 --fail-under-branch 85
