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

# Wine runs 32-bit Windows programs as 32-bit Linux processes through its 32-bit loader: a
# kernel built without 32-bit support cannot start it at all, and a machine whose package
# lists lacked it has none (the wine command itself then answers through 64-bit Wine). The
# 32-bit build is then compiled and linked, and the same code is built for 64-bit Windows
# and tested under 64-bit Wine instead.
wine32_can_run() {
  [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

build_and_test() {
  local preset=$1
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  if [ "$preset" = win32 ] && ! wine32_can_run; then
    echo "win32: built; its tests NOT RUN: 32-bit Wine cannot start here"
    WINEPREFIX="$PWD/build/win64-wine/wineprefix" build_and_test win64-wine
    return
  fi
  case "$preset" in
    win32) wine_boot=(wineboot) ;;
    win64-wine) wine_boot=(/usr/lib/wine/wine64 wineboot) ;;
    *) wine_boot=() ;;
  esac
  if [ ${#wine_boot[@]} -gt 0 ] && [ ! -f "$WINEPREFIX/system.reg" ]; then
    "${wine_boot[@]}" --init >/dev/null 2>&1
  fi
  ctest --preset "$preset"
}

for preset in linux linux-asan linux-tsan win32 fuzz; do
  build_and_test "$preset"
done

echo "== coverage"
bash scripts/coverage.sh | tail -n 3

echo "== formatting"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
echo "formatting: clean"
