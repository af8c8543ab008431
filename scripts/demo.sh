#!/usr/bin/env bash
# The demo: builds the Linux deliverables, lists the counters with ZarmiteCLI, then has
# zarmite-host load the plug-in, print its descriptors and poll it, and shows the start of
# the plug-in's log. On a machine with a GPU it reads the real GPU through the GPU counter
# library (AMD and Intel through the kernel's files, NVIDIA through its driver's NVML), or
# through the NVML counter library where only that sees one; everywhere else it uses the
# simulated counter library. It says which. `demo.sh fake-gpu` reads a fake machine's
# files instead (an AMD and an Intel GPU and their clients, as the tests write them), so
# that the GPU library and who uses the GPU can be seen on any machine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh demo

cmake --preset linux >/dev/null
cmake --build --preset linux --target Zarmite ZarmiteCLI zarmite-host nvpmapi nvpmapi_nvml \
  nvpmapi_gpu >/dev/null

build=build/linux
demo=$build/demo
rm -rf "$demo" && mkdir -p "$demo"
cp "$build/bin/Zarmite.so" "$demo/"
if [ "${1:-}" = fake-gpu ]; then
  python3 tests/tools/fake_gpu_machine.py "$demo/gpu-machine" 100 400 20
  export ZARMITE_DRM_ROOT="$PWD/$demo/gpu-machine"
fi

# The counter library is found through the search path, as the vendor's would be. A real
# GPU is used where a counter library over one lists counters.
lists_counters() {
  LD_LIBRARY_PATH="$PWD/$build/$1" "$build/bin/ZarmiteCLI" </dev/null 2>/dev/null |
    grep -q "^Number of available counters: [1-9]"
}
# Over a real library the configuration is the fleet script's for this machine: every
# GPU's counters, less those that its library says the GPU does not offer.
if lists_counters gpu-lib; then
  echo "== Using the machine's GPUs through the GPU counter library"
  export LD_LIBRARY_PATH="$PWD/$build/gpu-lib"
  python3 scripts/fleet-config.py "$build/bin/ZarmiteCLI" >"$demo/Zarmite.cfg"
elif lists_counters nvml-lib; then
  echo "== Using the real GPU through the driver's management library (NVML)"
  export LD_LIBRARY_PATH="$PWD/$build/nvml-lib"
  python3 scripts/fleet-config.py "$build/bin/ZarmiteCLI" >"$demo/Zarmite.cfg"
else
  echo "== No GPU that a counter library reads here: using the simulated counter library"
  export LD_LIBRARY_PATH="$PWD/$build/simulated-lib"
  cp demo/Zarmite.cfg "$demo/Zarmite.cfg"
fi

echo "== ZarmiteCLI: the counters the library offers (input at its end, so no key wait)"
"$build/bin/ZarmiteCLI" </dev/null
echo
echo
echo "== zarmite-host: the plug-in's sources, polled 4 times"
"$build/bin/zarmite-host" --plugin "$demo/Zarmite.so" --rounds 4 --interval-ms 500
echo
echo "== zarmite-host --json --processes: who uses the GPU, the last of 3 rounds"
"$build/bin/zarmite-host" --plugin "$demo/Zarmite.so" --json --processes --rounds 3 \
  --interval-ms 500 | tail -n 1
echo
echo "== The first lines of $demo/Zarmite.log"
head -n 8 "$demo/Zarmite.log" | tr -d '\r'

# In a terminal the demo ends with the live view; piped or scripted, with the rows above.
if [ -t 0 ] && [ -t 1 ]; then
  echo
  echo "== zarmite-host --watch: the live view. Press q (or Esc, or Ctrl+C) to leave it."
  sleep 3
  "$build/bin/zarmite-host" --plugin "$demo/Zarmite.so" --watch --interval-ms 500
fi
