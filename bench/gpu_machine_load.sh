#!/usr/bin/env bash
# What the GPU counter library costs a host on a fake machine (tests/tools/fake_gpu_machine.py)
# that one process loads with descriptors of the AMD GPU's render node: processor time and
# largest resident memory of a 20-round host over both GPUs' 32 counters, for each count of
# descriptors; then who uses the GPU: a host of 30 rounds a second apart with --json, with
# and without --processes, on the machine without that process; then the start and first
# round with one sensor file that hangs, at periods of 1 s and 60 s.
#   bench/gpu_machine_load.sh BUILD [DESCRIPTORS...]     (BUILD: build/linux)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "$1")
shift
counts=("${@:-0 1000 10000 60000}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build/bin/Zarmite.so" "$work/"
python3 -c "print(''.join('[Source%d]\nID=%d\nName=m%d\n' % (i, i, i) for i in range(32)))" \
  >"$work/Zarmite.cfg"
host() {
  ZARMITE_DRM_ROOT=$work/machine LD_LIBRARY_PATH=$build/gpu-lib timeout 120 \
    "$build/bin/zarmite-host" --plugin "$work/Zarmite.so" --csv "$@" >/dev/null
}
# Prints "WHAT: P % of a core, M MB resident at most" for the command after WHAT.
measure() {
  local what=$1
  shift
  start=$(date +%s%N)
  /usr/bin/time -f "%U %S %M" -o "$work/time" "$@" >/dev/null
  end=$(date +%s%N)
  read -r user system kilobytes <"$work/time"
  python3 -c "import sys; u, s, k, ns = map(float, sys.argv[2:]); print('%s: %.2f %% of a core, %.1f MB resident at most' % (sys.argv[1], 100 * (u + s) / (ns / 1e9), k / 1024))" \
    "$what" "$user" "$system" "$kilobytes" "$((end - start))"
}
for count in ${counts[*]}; do
  rm -rf "$work/machine"
  python3 tests/tools/fake_gpu_machine.py "$work/machine" 1000 10000 20 "$count"
  start=$(date +%s%N)
  /usr/bin/time -f "%U %S %M" -o "$work/time" bash -c "$(declare -f host); work=$work build=$build host --rounds 20"
  end=$(date +%s%N)
  read -r user system kilobytes <"$work/time"
  python3 -c "import sys; u, s, k, ns = map(float, sys.argv[2:]); print('%6d descriptors: %.1f %% of a core, %.1f MB resident at most' % (int(sys.argv[1]), 100 * (u + s) / (ns / 1e9), k / 1024))" \
    "$count" "$user" "$system" "$kilobytes" "$((end - start))"
done
rm -rf "$work/machine"
python3 tests/tools/fake_gpu_machine.py "$work/machine" 1000 10000 20
for processes in "" --processes; do
  measure "--json $processes, 30 rounds 1 s apart" env ZARMITE_DRM_ROOT="$work/machine" \
    LD_LIBRARY_PATH="$build/gpu-lib" "$build/bin/zarmite-host" --plugin "$work/Zarmite.so" \
    --json $processes --rounds 30 --interval-ms 1000
done
rm -rf "$work/machine"
python3 tests/tools/fake_gpu_machine.py "$work/machine" 100 1000 20
sensor=$(find "$work/machine/sys/devices" -path "*03:00.0/hwmon/hwmon2/temp1_input")
rm "$sensor"
mkfifo "$sensor"
for period in 1000 60000; do
  start=$(date +%s%N)
  ZARMITE_SAMPLE_PERIOD_MS=$period host --rounds 1
  end=$(date +%s%N)
  echo "period $period ms, one sensor that hangs: start and first round in $(((end - start) / 1000000)) ms"
done
