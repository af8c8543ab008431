#!/usr/bin/env bash
# The demo: builds the Linux deliverables, lists the counters with ZarmiteCLI, then has
# zarmite-host load the plug-in, print its descriptors and poll it, and shows the start of
# the plug-in's log. On a machine with a GPU it reads the real GPU through the GPU counter
# library (AMD and Intel through the kernel's files, NVIDIA through its driver's NVML), or
# through the NVML counter library where only that sees one; everywhere else it uses the
# simulated counter library. It says which. `demo.sh fake-gpu` reads a fake machine's
# files instead (an AMD and an Intel GPU and their clients, as the tests write them), so
# that the GPU library and who uses the GPU can be seen on any machine; `demo.sh nvml-stand-in`
# reads two GPUs of the tests' stand-in for NVIDIA's driver library through the NVML counter
# library, as a machine with an NVIDIA GPU would.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh demo

cmake --preset linux >/dev/null
targets=(Zarmite ZarmiteCLI zarmite-host nvpmapi nvpmapi_nvml nvpmapi_gpu)
[ "${1:-}" = nvml-stand-in ] && targets+=(nvidia_ml_stand_in)
cmake --build --preset linux --target "${targets[@]}" >/dev/null

build=build/linux
demo=$build/demo
rm -rf "$demo" && mkdir -p "$demo"
cp "$build/bin/Zarmite.so" "$demo/"
case "${1:-}" in
  "") ;;
  fake-gpu)
    # Its clients run while the demo does, so that who uses the GPU has shares to show.
    python3 tests/tools/fake_gpu_machine.py "$demo/gpu-machine" 100 400 20
    export ZARMITE_DRM_ROOT="$PWD/$demo/gpu-machine"
    python3 tests/tools/fake_gpu_machine.py --run "$demo/gpu-machine" 600 &
    trap 'kill $! 2>/dev/null || true' EXIT
    ;;
  nvml-stand-in)
    printf '%s\n' "gpus 2" "name 0 Stand-in GPU 0" "name 1 Stand-in GPU 1" \
      "set 0 utilization 62 31" "set 1 utilization 7 2" "set * temperature 55" \
      "set * power 187000" "set * graphics 1650" \
      "set * memory 17179869184 12884901888 4294967296 0" \
      "process 0 $$ 1073741824 compute" "process-use 0 $$ 58 0 0" >"$demo/nvml-scenario.txt"
    export ZARMITE_NVML_SCENARIO="$PWD/$demo/nvml-scenario.txt"
    extra_path="$PWD/$build/nvml-stand-in"
    ;;
  *)
    echo "usage: demo.sh [fake-gpu | nvml-stand-in]" >&2
    exit 2
    ;;
esac

# The counter library is found through the search path, as the vendor's would be. A real
# GPU is used where a counter library over one lists counters. grep reads the whole list: a
# grep that stopped at the match could end the probe by a broken pipe, failing the test.
lists_counters() {
  LD_LIBRARY_PATH="$PWD/$build/$1${extra_path:+:$extra_path}" "$build/bin/ZarmiteCLI" </dev/null 2>/dev/null |
    grep "^Number of available counters: [1-9]" >/dev/null
}
# Over a real library the configuration is the fleet script's for this machine: every
# GPU's counters, less those that its library says the GPU does not offer, with the log on
# so that the demo can show it.
fleet_configuration() {
  export LD_LIBRARY_PATH="$PWD/$build/$1${extra_path:+:$extra_path}"
  python3 scripts/fleet-config.py "$build/bin/ZarmiteCLI" |
    sed 's/^LoggingLevel=0$/LoggingLevel=1/' >"$demo/Zarmite.cfg"
}
if [ "${1:-}" != nvml-stand-in ] && lists_counters gpu-lib; then
  echo "== Using the machine's GPUs through the GPU counter library"
  fleet_configuration gpu-lib
elif lists_counters nvml-lib; then
  echo "== Using the GPUs through the driver's management library (NVML)"
  fleet_configuration nvml-lib
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
echo "== zarmite-host --json --processes: who uses the GPU, the last of 6 rounds"
"$build/bin/zarmite-host" --plugin "$demo/Zarmite.so" --json --processes --rounds 6 \
  --interval-ms 500 | tail -n 1
echo
if [ -f "$demo/Zarmite.log" ]; then
  echo "== The first lines of $demo/Zarmite.log"
  head -n 8 "$demo/Zarmite.log" | tr -d '\r'
else
  echo "== No log: the configuration's LoggingLevel is 0"
fi

# In a terminal the demo ends with the live view; piped or scripted, with the rows above.
if [ -t 0 ] && [ -t 1 ]; then
  echo
  echo "== zarmite-host --watch: the live view. Press q (or Esc, or Ctrl+C) to leave it."
  sleep 3
  "$build/bin/zarmite-host" --plugin "$demo/Zarmite.so" --watch --interval-ms 500
fi
