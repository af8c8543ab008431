#!/usr/bin/env bash
# Line and branch coverage of every product file by the native test suite, the end-to-end
# tests' runs of the host and the probe included: the platform layer, the binding, the
# plug-in, the probe, every counter library built here and its sampler, and the host. The
# tests, the driver's stand-ins, the tools that only tests and benchmarks use (child
# processes, process statistics), the fuzz targets and the benchmarks are left out of the
# figures. Fails below 95 % of lines or 85 % of branches.
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
  --filter 'counter-libraries/' --filter 'host/' \
  --exclude 'platform/.*/child_process.cpp' --exclude 'platform/.*/process_stats.cpp' \
  --exclude-throw-branches --exclude-unreachable-branches \
  --print-summary --txt "$build/coverage.txt" \
  --fail-under-line 95 --fail-under-branch 85
