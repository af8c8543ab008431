#!/usr/bin/env bash
# Makes the README's pictures of the live view, each as the README's command beside it
# runs it, under tmux at 120 x 36 in a UTF-8 locale with 256 colours: the graphs
# (zarmite-host --watch over the simulated library with the demo's configuration) and the
# overview (over the fake machine's two GPUs through the GPU library, as `demo.sh fake-gpu`
# ends), a round every 500 ms. tmux's capture is kept as text (docs/NAME.txt) and, with
# its colours, drawn as a PNG (docs/NAME.png) by scripts/terminal-to-png.py with Debian's
# Python and its python3-pil.
set -euo pipefail
cd "$(dirname "$0")/.."
# The build, tmux to run the view in, Pillow and a monospaced font to draw its capture.
bash scripts/install-deps.sh demo tmux python3-pil fonts-dejavu-core

cmake --preset linux >/dev/null
cmake --build --preset linux --target Zarmite ZarmiteCLI zarmite-host nvpmapi nvpmapi_gpu >/dev/null
build=$PWD/build/linux
work=$build/live-view
rm -rf "$work" && mkdir -p "$work/graphs" "$work/overview"
columns=120 rows=36

# Runs COMMAND under tmux for SECONDS, keeps the screen as docs/NAME.txt and, with its
# colours, as docs/NAME.png.
capture() {
  local name=$1 seconds=$2 command=$3 session=zarmite-capture-$$
  tmux -L "$session" new-session -d -s "$session" -x $columns -y $rows "$command"
  sleep "$seconds"
  tmux -L "$session" capture-pane -p -t "$session" >"docs/$name.txt"
  tmux -L "$session" capture-pane -p -e -N -t "$session" >"$work/$name.ansi"
  tmux -L "$session" send-keys -t "$session" q
  sleep 0.5
  tmux -L "$session" kill-server 2>/dev/null || true
  /usr/bin/python3 scripts/terminal-to-png.py "$work/$name.ansi" "docs/$name.png" $columns $rows
  echo "capture-live-view: docs/$name.txt and docs/$name.png"
}

# The graphs: the demo's configuration over the simulated library, as the README's command
# beside the picture runs it; long enough for the strip charts to fill at two rounds a
# second.
cp "$build/bin/Zarmite.so" "$work/graphs/"
cp demo/Zarmite.cfg "$work/graphs/Zarmite.cfg"
capture live-view 40 "LC_ALL=C.UTF-8 LD_LIBRARY_PATH='$build/simulated-lib' \
  '$build/bin/zarmite-host' --plugin '$work/graphs/Zarmite.so' --watch --interval-ms 500"

# The overview: the fake machine's two GPUs and their running clients through the GPU
# library, with the fleet script's configuration, as `demo.sh fake-gpu` ends in a terminal.
machine=$work/overview/gpu-machine
python3 tests/tools/fake_gpu_machine.py "$machine" 100 400 20
python3 tests/tools/fake_gpu_machine.py --run "$machine" 60 &
trap 'kill $! 2>/dev/null || true' EXIT
cp "$build/bin/Zarmite.so" "$work/overview/"
ZARMITE_DRM_ROOT=$machine LD_LIBRARY_PATH=$build/gpu-lib \
  python3 scripts/fleet-config.py "$build/bin/ZarmiteCLI" >"$work/overview/Zarmite.cfg" 2>/dev/null
capture overview 10 "LC_ALL=C.UTF-8 ZARMITE_DRM_ROOT='$machine' LD_LIBRARY_PATH='$build/gpu-lib' \
  '$build/bin/zarmite-host' --plugin '$work/overview/Zarmite.so' --watch --interval-ms 500"
