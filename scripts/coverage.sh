#!/usr/bin/env bash
# Line and branch coverage of the project's own code by the native test suite. The tests,
# the stand-in counter library, the test host, the tools that only tests and benchmarks use
# (child processes, process statistics), the fuzz targets and the benchmarks are
# left out of the figures. Fails below 95 % of lines or 85 % of branches.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

build=build/coverage
cmake --preset coverage >/dev/null
cmake --build --preset coverage
find "$build" -name '*.gcda' -delete
ctest --preset coverage
# Branches the compiler adds for exceptions it cannot throw here are not the code's own.
gcovr --root . --object-directory "$build" \
  --filter 'platform/' --filter 'counterlib/' --filter 'plugin/' --filter 'ZarmiteCLI/' \
  --exclude 'platform/.*/child_process.cpp' --exclude 'platform/.*/process_stats.cpp' \
  --exclude-throw-branches --exclude-unreachable-branches \
  --print-summary --txt "$build/coverage.txt" \
  --fail-under-line 95 --fail-under-branch 85
