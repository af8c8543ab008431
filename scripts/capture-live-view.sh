#!/usr/bin/env bash
# Makes the README's picture of the live view: zarmite-host --watch on the demo
# configuration and the simulated library, run under tmux at 100 x 34, captured as text
# (docs/live-view.txt) and drawn from that text as a PNG (docs/live-view.png) with
# ImageMagick.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
command -v /usr/bin/convert >/dev/null || {
  echo "capture-live-view: needs ImageMagick (apt-get install imagemagick)" >&2
  exit 1
}

cmake --preset linux >/dev/null
cmake --build --preset linux --target Zarmite zarmite-host nvpmapi >/dev/null
build=$PWD/build/linux
work=$build/live-view
rm -rf "$work" && mkdir -p "$work"
cp "$build/bin/Zarmite.so" "$work/"
grep -v '^LoggingLevel' demo/Zarmite.cfg | sed 's/^GridDim=10$/GridDim=25/' >"$work/Zarmite.cfg"

session=zarmite-capture-$$
tmux -L "$session" new-session -d -s "$session" -x 100 -y 34 \
  "LD_LIBRARY_PATH='$build/simulated-lib' '$build/bin/zarmite-host' --plugin '$work/Zarmite.so' --watch --interval-ms 50"
sleep 5  # long enough for the strip charts to fill
tmux -L "$session" capture-pane -p -t "$session" >docs/live-view.txt
tmux -L "$session" send-keys -t "$session" q
sleep 0.5
tmux -L "$session" kill-server 2>/dev/null || true

# ImageMagick reads "%" in a label as an escape: double it.
text=$(sed 's/%/%%/g' docs/live-view.txt)
/usr/bin/convert -size 940x640 xc:'#101418' -font DejaVu-Sans-Mono -pointsize 15 \
  -fill '#d8dee9' -annotate +12+20 "$text" docs/live-view.png
echo "capture-live-view: docs/live-view.txt and docs/live-view.png"
