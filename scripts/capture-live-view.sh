#!/usr/bin/env bash
# Makes the README's picture of the live view: zarmite-host --watch over the simulated
# library with the demo's configuration, a round every 500 ms, as the README's command
# beside the picture runs it, under tmux at 120 x 36 in a UTF-8 locale
# with 256 colours. tmux's capture is kept as text (docs/live-view.txt) and, with its
# colours, drawn as a PNG (docs/live-view.png) by scripts/terminal-to-png.py with
# Debian's Python and its python3-pil.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
/usr/bin/python3 -c 'import PIL' 2>/dev/null && [ -f /usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf ] || {
  echo "capture-live-view: needs python3-pil and fonts-dejavu-core (apt-get install them)" >&2
  exit 1
}

cmake --preset linux >/dev/null
cmake --build --preset linux --target Zarmite zarmite-host nvpmapi >/dev/null
build=$PWD/build/linux
work=$build/live-view
rm -rf "$work" && mkdir -p "$work"
cp "$build/bin/Zarmite.so" "$work/"
# The demo's configuration, as the README's command beside the picture runs it.
cp demo/Zarmite.cfg "$work/Zarmite.cfg"

columns=120 rows=36
session=zarmite-capture-$$
tmux -L "$session" new-session -d -s "$session" -x $columns -y $rows \
  "LC_ALL=C.UTF-8 LD_LIBRARY_PATH='$build/simulated-lib' '$build/bin/zarmite-host' --plugin '$work/Zarmite.so' --watch --interval-ms 500"
sleep 40 # long enough for the strip charts to fill at two rounds a second
tmux -L "$session" capture-pane -p -t "$session" >docs/live-view.txt
tmux -L "$session" capture-pane -p -e -N -t "$session" >"$work/capture.ansi"
tmux -L "$session" send-keys -t "$session" q
sleep 0.5
tmux -L "$session" kill-server 2>/dev/null || true

/usr/bin/python3 scripts/terminal-to-png.py "$work/capture.ansi" docs/live-view.png $columns $rows
echo "capture-live-view: docs/live-view.txt and docs/live-view.png"
