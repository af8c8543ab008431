#!/usr/bin/env bash
# The demo: builds the Linux deliverables, lists the simulated counter library's counters
# with ZarmiteCLI, then has zarmite-host load the plug-in with demo/Zarmite.cfg, print its
# descriptors and poll it, and shows the start of the plug-in's log.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

cmake --preset linux >/dev/null
cmake --build --preset linux --target Zarmite ZarmiteCLI zarmite-host nvpmapi >/dev/null

build=build/linux
demo=$build/demo
rm -rf "$demo" && mkdir -p "$demo"
cp "$build/bin/Zarmite.so" demo/Zarmite.cfg "$demo/"
# The counter library is found through the search path, as the vendor's would be.
export LD_LIBRARY_PATH="$PWD/$build/simulated-lib"

echo "== ZarmiteCLI: the counters the library offers (input at its end, so no key wait)"
"$build/bin/ZarmiteCLI" </dev/null
echo
echo
echo "== zarmite-host: the plug-in's sources, polled 4 times"
"$build/bin/zarmite-host" --plugin "$demo/Zarmite.so" --rounds 4 --interval-ms 500
echo
echo "== The first lines of $demo/Zarmite.log"
head -n 8 "$demo/Zarmite.log" | tr -d '\r'
