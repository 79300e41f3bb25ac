#!/usr/bin/env bash
# TrimsenseGUI.exe under Wine on an Xvfb display, driven by another Windows
# program (trimsense_gui_driver.exe) that finds the windows by caption, reads
# and clicks their controls: with a stand-in console program ending with 0
# and 6, with no console program beside the front end (10), and with the real
# Trimsense.exe adjusting the Linux simulated printer on 127.0.0.213; the
# first case finds its address with "Search" (discovery on loopback) and
# runs a communication test. Then the window is closed during an adjustment
# of a slowed simulated printer (127.0.0.215), once with WM_CLOSE (close box,
# Alt+F4) and once with IDCANCEL: the front end asks the console program to
# end through its stop event, the printer gets its closing frame. Saves
# screenshots of both dialogs (TW_GUI_SHOTS=folder, default the Windows build's
# screenshots/ folder).
# Usage: 65-gui.sh NATIVE_BUILD WIN_BUILD       (skipped where Xvfb is missing)
set -uo pipefail
name=65-gui
native=$(realpath "$1")
win=$(realpath "$2")
if [ "${3:-}" != "--inside" ]; then
  if ! command -v Xvfb >/dev/null || ! command -v xvfb-run >/dev/null; then
    echo "$name: skipped, Xvfb is not installed"
    exit 0
  fi
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$native" "$win" --inside
fi
addr=127.0.0.213
stand_in_addr=127.0.0.214
level=200   # threshold 70
shots=${TW_GUI_SHOTS:-$win/screenshots}
source "$(dirname "$0")/../wine-common.sh"
fresh_wine_session
winpath() { local p; p=$(realpath -m "$1"); echo "Z:${p//\//\\}"; }

for f in "$win/bin/TrimsenseGUI.exe" "$win/bin/trimsense_gui_driver.exe" "$win/gui-stand-in/Trimsense.exe"; do
  [ -e "$f" ] || fail "$f is not built"
done
mkdir -p "$dir/stand-in" "$dir/missing" "$dir/real" "$dir/shots" "$shots"
cp "$win/bin/TrimsenseGUI.exe" "$dir/stand-in/"
cp "$win/gui-stand-in/Trimsense.exe" "$dir/stand-in/"
cp "$win/bin/TrimsenseGUI.exe" "$dir/missing/"
cp "$win/bin/TrimsenseGUI.exe" "$win/bin/Trimsense.exe" "$win/bin/Portwire.dll" "$win/bin/lnkioapi.dll" "$dir/real/"

start_simulator '[ -e "$dir/ready" ]' \
  "$native/bin/kps410-sim" --tcp "$addr" --level "$level" --reset-ms 0 \
  --report "$dir/report" --ready-file "$dir/ready" --quiet

# The printer for the close cases answers slowly, so the window can be
# closed between the opening and the closing frame.
slow_addr=127.0.0.215
"$native/bin/kps410-sim" --tcp "$slow_addr" --fault slow --slow-ms 400 --reset-ms 0 \
  --report "$dir/slow-report" --ready-file "$dir/slow-ready" --quiet & slow_pid=$!
for _ in $(seq 100); do [ -e "$dir/slow-ready" ] && break; sleep 0.05; done
[ -e "$dir/slow-ready" ] || fail "the slowed simulator is not ready"
export TW_CLOSE_REPORT
TW_CLOSE_REPORT=$(winpath "$dir/slow-report")

# The first case finds the stand-in's address with "Search": a simulated
# printer interface answers there.
"$native/bin/netif-sim" --address "$stand_in_addr" >"$dir/netif.log" 2>&1 & netif_pid=$!
export PORTWIRE_NCS_BROADCAST=$stand_in_addr

# Screenshots when the driver pauses: the dialog's rectangle on the Wine
# desktop, which lies at the top left of the display.
take_shots() {
  for shot in select-port main; do
    for _ in $(seq 600); do [ -e "$dir/shots/$shot.ready" ] && break; sleep 0.1; done
    [ -e "$dir/shots/$shot.ready" ] || return
    read -r x y w h <"$dir/shots/$shot.ready"
    sleep 0.5
    import -window root "$dir/shots/$shot-full.png" &&
      convert "$dir/shots/$shot-full.png" -crop "${w}x${h}+${x}+${y}" +repage "$shots/trimsense-gui-win32-$shot.png"
    touch "$dir/shots/$shot.done"
  done
}
take_shots & shot_pid=$!

export TW_STAND_IN_RECORD
TW_STAND_IN_RECORD=$(winpath "$dir/stand-in-record")
log="$dir/driver.log"
wine explorer /desktop=trimsense,800x600 "$win/bin/trimsense_gui_driver.exe" \
  --log "$(winpath "$log")" --shots "$(winpath "$dir/shots")" \
  "$(winpath "$dir/stand-in");$stand_in_addr;0;0;search" \
  "$(winpath "$dir/stand-in");$stand_in_addr;6;6" \
  "$(winpath "$dir/missing");$stand_in_addr;-;10" \
  "$(winpath "$dir/real");$addr;-;0" \
  "$(winpath "$dir/real");$slow_addr;-;0;close" \
  "$(winpath "$dir/real");$slow_addr;-;0;cancel" >/dev/null 2>&1
wait "$shot_pid"
kill "$netif_pid" "$slow_pid" 2>/dev/null; wait "$netif_pid" "$slow_pid" 2>/dev/null
[ -s "$log" ] || fail "the driver wrote no log"
tr -d '\r' <"$log" >"$dir/driver.txt"
cat "$dir/driver.txt"
grep -q '^PASS$' "$dir/driver.txt" || fail "the driver found faults"

record=$(tr -d '\r' <"$dir/stand-in-record" 2>/dev/null)
[ "$record" = "$(printf -- '-n%s|-tC\n-n%s\n-n%s' "$stand_in_addr" "$stand_in_addr" "$stand_in_addr")" ] ||
  fail "the stand-in did not run a test and two adjustments with -n$stand_in_addr: '$record'"
threshold=$(sed -n 's/^threshold=//p' "$dir/report")
[ "$threshold" = "70" ] || fail "the simulated printer stored threshold '$threshold'"
for shot in select-port main; do
  [ -s "$shots/trimsense-gui-win32-$shot.png" ] || fail "no screenshot $shot"
done
grep -q '^last_command=frame_close$' "$dir/slow-report" || fail "the slowed printer's exchange was left open"
echo "TrimsenseGUI.exe under Wine: start-up state, port chosen, codes 0, 6 and 10 shown; the real console program adjusted the simulated printer (threshold $threshold); closing during a run closed the printer's exchange; screenshots in $shots"
