#!/usr/bin/env bash
# The real TrimsenseGUI under Xvfb, driven with xdotool like a user: Select
# Port, Ethernet, the simulated printer's address typed, OK, Adjustment. The
# result box must come up with its caption and the printer must have stored
# its threshold. Everything stays on 127.0.0.196.
#   real_gui_check.sh BIN_DIR        exit 77 (skipped) without Xvfb/xdotool
set -uo pipefail
bin=$1
command -v Xvfb >/dev/null && command -v xdotool >/dev/null || { echo "Xvfb or xdotool missing"; exit 77; }
work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

# A private X screen; Xvfb picks a free display number itself, so checks
# running side by side never share one.
Xvfb -displayfd 3 -screen 0 1024x768x24 3>"$work/display" >/dev/null 2>&1 & pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=:$(cat "$work/display")

"$bin/kps410-sim" --tcp 127.0.0.196 --level 100 --reset-ms 300 --report "$work/report" \
  --ready-file "$work/ready" --quiet & pids+=($!)
for _ in $(seq 100); do [ -e "$work/ready" ] && break; sleep 0.1; done
[ -e "$work/ready" ] || fail "simulated printer not up"
"$bin/TrimsenseGUI" & gui=$!; pids+=($gui)

window() {  # caption regex [seconds] -> window id
  for _ in $(seq $((${2:-10} * 10))); do
    w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.1
  done
  return 1
}
click() {  # window, x and y in hundredths of its size
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove --window "$1" $((WIDTH * $2 / 100)) $((HEIGHT * $3 / 100)) click 1
  sleep 0.4
}

main=$(window "^Orlex KP-S410 Slip Paper Sensor Adjustment Tool$") || fail "main dialog did not come up"
sleep 0.5
click "$main" 81 22
select=$(window "^Select Port$") || fail "select-port dialog did not come up"
sleep 0.3
click "$select" 72 10          # Ethernet
click "$select" 40 24          # first part of the IP address field
xdotool type --delay 50 "127.0.0.196"
sleep 0.3
click "$select" 58 90          # OK
sleep 0.5
click "$main" 52 87            # Adjustment
box=$(window "^Slip Papre Senser Adjustment$" 120) || fail "no result message"
grep -q '^threshold=35$' "$work/report" || fail "printer stored no threshold: $(grep threshold "$work/report")"
click "$box" 84 65             # its OK button
sleep 0.5
xdotool search --onlyvisible --name "^Slip Papre Senser Adjustment$" >/dev/null 2>&1 && fail "result message stays"
kill -0 "$gui" 2>/dev/null || fail "front end ended"
echo "real TrimsenseGUI adjusted the simulated printer"

# Ended by a signal: the idle front end goes at once.
kill -TERM "$gui"
for _ in $(seq 50); do kill -0 "$gui" 2>/dev/null || break; sleep 0.1; done
kill -0 "$gui" 2>/dev/null && fail "front end ignores SIGTERM"

# Ended by a signal in the middle of an adjustment of a printer that never
# answers: the console program must not outlive it.
"$bin/kps410-sim" --tcp 127.0.0.197 --fault silent --ready-file "$work/ready2" --quiet & pids+=($!)
for _ in $(seq 100); do [ -e "$work/ready2" ] && break; sleep 0.1; done
"$bin/TrimsenseGUI" & gui=$!; pids+=($gui)
main=$(window "^Orlex KP-S410 Slip Paper Sensor Adjustment Tool$") || fail "main dialog did not come up again"
sleep 0.5
click "$main" 81 22
select=$(window "^Select Port$") || fail "select-port dialog did not come up again"
sleep 0.3
click "$select" 72 10
click "$select" 40 24
xdotool type --delay 50 "127.0.0.197"
sleep 0.3
click "$select" 58 90
sleep 0.5
click "$main" 52 87
child=
for _ in $(seq 50); do child=$(pgrep -P "$gui" -x Trimsense) && break; sleep 0.1; done
[ -n "$child" ] || fail "no console program started"
kill -TERM "$gui"
for _ in $(seq 100); do kill -0 "$gui" 2>/dev/null || break; sleep 0.1; done
kill -0 "$gui" 2>/dev/null && fail "front end still running 10 s after SIGTERM"
kill -0 "$child" 2>/dev/null && fail "console program $child outlived the front end"
echo "SIGTERM during a run ended the console program with the front end"
