#!/usr/bin/env bash
# Kitdrop on Linux with its real Qt folder dialog on a private Xvfb screen,
# driven with xdotool like a user: cancel (0, nothing touched), a folder typed
# and confirmed (0, the files copied intact), the same folder again (a message
# box, then status 255, the first copy untouched).
#   kitdrop_qt_check.sh <build bin folder>
set -uo pipefail
bin=$1
work=$(mktemp -d)
xvfb=""
cleanup() { [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "kitdrop_qt_check: $*" >&2; exit 1; }

Xvfb -displayfd 3 -screen 0 1024x768x24 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")" XDG_RUNTIME_DIR="$work"
unset QT_QPA_PLATFORM

mkdir -p "$work/kit" "$work/chosen"
for f in Kitdrop Trimsense libPortwire.so liblnkioapi.so License.txt Manual.pdf; do
  [ -e "$bin/$f" ] && cp "$bin/$f" "$work/kit/"
done
product="$work/chosen/Orlex KP-S410 Slip Paper Sensor Adjustment Tool"

# window TITLE: the visible window of that title, waited for.
window() {
  for _ in $(seq 200); do
    w=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1)
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.05
  done
  return 1
}
# start_kitdrop: Kitdrop in the background (pid), its dialog focused (dialog).
start_kitdrop() {
  "$work/kit/Kitdrop" >/dev/null 2>&1 &
  pid=$!
  dialog=$(window "Select Folder") || { kill $pid; fail "no \"Select Folder\" dialog"; }
  xdotool windowactivate --sync "$dialog" >/dev/null 2>&1 || true
  xdotool windowfocus --sync "$dialog"
  sleep 1
}
choose() {
  # Real key events (XTEST) to the focused dialog; synthetic ones that name a
  # window are not all taken by Qt.
  xdotool key ctrl+a
  xdotool type --delay 30 "$1"
  sleep 0.3
  xdotool key Return
}

start_kitdrop
xdotool key Escape
wait $pid; rc=$?
[ $rc -eq 0 ] || fail "cancel: status $rc"
[ -z "$(ls -A "$work/chosen")" ] || fail "cancel touched the folder"

start_kitdrop
choose "$work/chosen"
wait $pid; rc=$?
[ $rc -eq 0 ] || fail "first run: status $rc"
for f in "$work"/kit/*; do
  base=$(basename "$f")
  [ "$base" = Kitdrop ] && continue
  cmp -s "$f" "$product/$base" || fail "$base not copied intact"
done

echo newer > "$work/kit/License.txt"
start_kitdrop
choose "$work/chosen"
box=$(window "Kitdrop") || { kill $pid; fail "no message box on the second run"; }
xdotool windowactivate --sync "$box" >/dev/null 2>&1 || true
sleep 0.5
xdotool key Return
wait $pid; rc=$?
[ $rc -eq 255 ] || fail "second run: status $rc"
[ "$(cat "$product/License.txt")" != newer ] || fail "second run changed the first copy"
echo "Kitdrop with its Qt dialog: cancel 0, copy 0, second run 255 with a message"
