#!/usr/bin/env bash
# Takes the README's screenshots of TrimsenseGUI under Xvfb: the main dialog
# after a network printer was chosen, and the select-port dialog on its
# Ethernet page after a search found the simulated printer interface.
#   bash scripts/gui-screenshots.sh            (needs xvfb-run, xdotool, ImageMagick's import;
#                                               with openbox installed the windows get their frames)
# Everything stays on the loopback network: the discovery goes to 127.0.0.191.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${DISPLAY:-}" ] || [ "${1:-}" != "--inside" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --inside
fi
out=docs
bin=build/bin
work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT

if command -v openbox >/dev/null; then
  openbox --sm-disable >/dev/null 2>&1 & pids+=($!)
  sleep 1
fi
"$bin/netif-sim" --address 127.0.0.191 >"$work/netif.log" 2>&1 & pids+=($!)
export PORTWIRE_NCS_BROADCAST=127.0.0.191
mkdir -p "$work/dosdevices"
"$bin/kps410-sim" --pty-dir "$work/dosdevices" --com 3 --quiet & pids+=($!)
export PORTWIRE_DOSDEVICES=$work/dosdevices
"$bin/TrimsenseGUI" & pids+=($!)

window() {  # caption regex -> window id
  for _ in $(seq 100); do
    w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)
    [ -n "$w" ] && { echo "$w"; return; }
    sleep 0.1
  done
  echo "no window $1" >&2; exit 1
}
# Clicks at a point given in hundredths of the window's width and height.
click() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove --window "$1" $((WIDTH * $2 / 100)) $((HEIGHT * $3 / 100)) click 1
  sleep 0.5
}

main=$(window "^Orlex KP-S410")
sleep 1
click "$main" 81 22                 # Select Port
select=$(window "^Select Port$")
sleep 0.5
click "$select" 72 10               # Ethernet
click "$select" 77 71               # Search
sleep 4.5                           # the discovery's quiet period
click "$select" 20 33               # the first found printer
sleep 0.5
import -frame -window "$select" "$out/trimsense-gui-select-port.png"
click "$select" 58 90               # OK
sleep 0.5
import -frame -window "$main" "$out/trimsense-gui-main.png"
echo "screenshots in $out/"
