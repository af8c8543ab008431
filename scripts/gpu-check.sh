#!/usr/bin/env bash
# The check on real hardware: builds the Linux deliverables and a counter library over real
# GPUs, lists the counters of the machine's GPUs, takes single-mode samples, polls the
# plug-in for every counter of one GPU (the first NVIDIA one where there is one, else GPU 0),
# compares the readings with nvidia-smi where it exists, and times a poll against direct
# driver queries. Prints everything; exits non-zero when a step that must work fails.
#
#   gpu-check.sh [gpu|nvml]    the GPU counter library (default) or the NVML one
#
# ZARMITE_GPU_CHECK_DRIVER_DIR may name a folder that holds the driver's library (for a
# rehearsal with the tests' stand-in, with nvml); otherwise the system's is used.
set -uo pipefail
cd "$(dirname "$0")/.."
build=build/linux
library=${1:-gpu}
case "$library" in
  gpu | nvml) ;;
  *) echo "usage: gpu-check.sh [gpu|nvml]"; exit 2 ;;
esac
failures=0
step() { echo; echo "== $*"; }
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

step "Build"
# Only what the Linux build needs: no test tools, no Wine.
bash scripts/install-deps.sh demo >/dev/null
targets=(Zarmite ZarmiteCLI zarmite-host key-after nvpmapi_nvml nvpmapi_gpu zarmite-poll-latency
  zarmite-nvml-direct)
# A rehearsal over the tests' stand-in for the driver's library builds the stand-in too.
[ -n "${ZARMITE_GPU_CHECK_DRIVER_DIR:-}" ] && targets+=(nvidia_ml_stand_in)
cmake --preset linux >/dev/null &&
  cmake --build --preset linux --target "${targets[@]}" >/dev/null || { echo "build failed"; exit 1; }

export LD_LIBRARY_PATH="$PWD/$build/$library-lib${ZARMITE_GPU_CHECK_DRIVER_DIR:+:$ZARMITE_GPU_CHECK_DRIVER_DIR}"
echo "counter library: $LD_LIBRARY_PATH"
step "The driver"
command -v nvidia-smi >/dev/null && nvidia-smi -L || echo "no nvidia-smi on this machine"

step "ZarmiteCLI: the counters"
"$build/bin/ZarmiteCLI" </dev/null | tee "$build/gpu-check-list.txt" | head -n 40
echo  # the probe's last line ("Press any key to exit") has no line break
if ! grep -q "^Number of available counters: [1-9]" "$build/gpu-check-list.txt"; then
  fail "no counters listed"
  echo "gpu-check: without counters no later step can work; stopping here"
  exit "$failures"
fi

# The GPU to look at: the first NVIDIA one, whose readings nvidia-smi can confirm.
gpu=$(grep -oE '\(GPU [0-9]+: nvidia ' "$build/gpu-check-list.txt" | head -n 1 | grep -oE '[0-9]+')
gpu=${gpu:-0}
echo "GPU $gpu: $(grep -m 1 -A 1 "^Counter $((gpu * 16)): " "$build/gpu-check-list.txt" | tail -n 1)"

for m in 0 4 8 9 11 14; do
  counter=$((gpu * 16 + m))
  step "ZarmiteCLI $counter: single mode for 3.5 s"
  "$build/bin/key-after" 3500 "$build/bin/ZarmiteCLI" "$counter" | tail -n 4
done

step "The plug-in: every counter of GPU $gpu, polled 3 times"
check="$build/gpu-check"
rm -rf "$check" && mkdir -p "$check"
cp "$build/bin/Zarmite.so" "$check/"
for m in $(seq 0 15); do printf '[Source%d]\nID=%d\n' "$m" "$((gpu * 16 + m))"; done >"$check/Zarmite.cfg"
"$build/bin/zarmite-host" --plugin "$check/Zarmite.so" --rounds 3 --interval-ms 1000 |
  tee "$check/host.txt" | grep -E "^Source|Name:|Round"
last=$(grep "^Round 3:" "$check/host.txt" | cut -d: -f2)
[ -n "$last" ] || fail "the plug-in gave no readings"

step "Compared with nvidia-smi (same order; fan and PCIe traffic are not in its query)"
if command -v nvidia-smi >/dev/null; then
  echo "plug-in: busy, memory busy, graphics, SM, memory, video clock, temperature, power (mW), memory used, free, total (MiB)"
  read -r -a v <<<"$last"
  echo "         ${v[0]} ${v[1]} ${v[4]} ${v[5]} ${v[6]} ${v[7]} ${v[8]} ${v[9]} ${v[11]} ${v[12]} ${v[13]}"
  echo "nvidia-smi:"
  nvidia-smi --id=0 --format=csv,noheader,nounits \
    --query-gpu=utilization.gpu,utilization.memory,clocks.gr,clocks.sm,clocks.mem,clocks.video,temperature.gpu,power.draw,memory.used,memory.free,memory.total
else
  echo "no nvidia-smi: nothing to compare with"
fi

step "Cost: a poll through the plug-in, and the driver's own queries"
"$build/bin/zarmite-poll-latency" --rounds 500 || fail "poll timing"
if [ "$library" = nvml ] || grep -q "(GPU [0-9]*: nvidia " "$build/gpu-check-list.txt"; then
  "$build/bin/zarmite-nvml-direct" || fail "direct driver timing"
else
  echo "no NVIDIA GPU: no direct NVML timing"
fi

echo
[ "$failures" = 0 ] && echo "gpu-check: every step worked" || echo "gpu-check: $failures step(s) failed"
exit "$failures"
