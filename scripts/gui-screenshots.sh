#!/usr/bin/env bash
# Takes the README's screenshots of TrimsenseGUI under Xvfb: the main dialog
# after a network printer was chosen, and the select-port dialog on its
# Ethernet page after a search found the simulated printer interface; then,
# with the front end running as the user "nobody" (when this runs as root),
# the COM page with the details of a port the user may open and of one the
# user may not, and the failure box of that port with its details shown.
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
kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true

# Port details: two serial ports by links, COM3 to a device that only the
# group dialout may open (chosen first) and COM5 to one anyone may open.
as_user=()
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null && id nobody >/dev/null 2>&1; then
  as_user=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups)
  cp "$XAUTHORITY" "$work/xauth"; chmod 644 "$work/xauth"; export XAUTHORITY=$work/xauth
fi
chmod 755 "$work"
mkdir -p "$work/dev" "$work/dosdevices2"
: >"$work/dev/ttyS4"; chmod 666 "$work/dev/ttyS4"
: >"$work/dev/ttyUSB0"; chgrp dialout "$work/dev/ttyUSB0" 2>/dev/null || true; chmod 660 "$work/dev/ttyUSB0"
ln -s "$work/dev/ttyUSB0" "$work/dosdevices2/com3"
ln -s "$work/dev/ttyS4" "$work/dosdevices2/com5"
PORTWIRE_DOSDEVICES=$work/dosdevices2 HOME=$work "${as_user[@]}" "$bin/TrimsenseGUI" & pids+=($!)
main=$(window "^Orlex KP-S410")
sleep 1
click "$main" 81 22                 # Select Port
select=$(window "^Select Port$")
sleep 0.5
# COM3 from the port list: it opens over the box with the current row
# (COM1) in its place, COM3 one row below.
click "$select" 57 24
eval "$(xdotool getmouselocation --shell)"
xdotool mousemove $X $((Y + 26)) click 1
sleep 0.5
import -frame -window "$select" "$out/trimsense-gui-port-details.png"
click "$select" 58 90               # OK
sleep 0.5
click "$main" 52 87                 # Adjustment
box=$(window "^Slip Papre Senser Adjustment$")
sleep 0.5
click "$box" 86 80                  # "Show Details..."
sleep 0.5
import -frame -window "$box" "$out/trimsense-gui-failure-details.png"
echo "screenshots in $out/"
