#!/usr/bin/env bash
# Builds and tests every preset: native, under the sanitizers (address and undefined
# behaviour, then threads), the 32-bit Windows build under Wine, and a short run of each
# fuzz target; then checks coverage and formatting. Fails on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

# Wine keeps its own prefix under the build folder, quiet and without extra downloads.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX="$PWD/build/win32/wineprefix"

# Wine runs 32-bit Windows programs as 32-bit Linux processes: a kernel built without
# 32-bit support cannot start it at all. The Windows build is still compiled and linked.
wine_can_run() {
  wine --version >/dev/null 2>&1
}

for preset in linux linux-asan linux-tsan win32 fuzz; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  if [ "$preset" = win32 ]; then
    if ! wine_can_run; then
      echo "win32: built; NOT TESTED: Wine cannot start on this machine (its kernel runs no 32-bit programs)"
      continue
    fi
    [ -f "$WINEPREFIX/system.reg" ] || wineboot --init >/dev/null 2>&1
  fi
  ctest --preset "$preset"
done

echo "== coverage"
bash scripts/coverage.sh | tail -n 3

echo "== formatting"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
echo "formatting: clean"
