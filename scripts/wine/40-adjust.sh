#!/usr/bin/env bash
# The Windows programs under Wine adjust the Linux simulated printer over TCP:
# Trimsense.exe loads Portwire.dll, which reaches the printer through
# lnkioapi.dll. The printer must end up with the threshold for its level.
# Usage: 40-adjust.sh NATIVE_BUILD WIN_BUILD
set -uo pipefail
native="$1"
win="$2"
addr=127.0.0.62
level=200   # threshold 70
dir=$(mktemp -d)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; fi
  rm -rf "$dir"
}
trap cleanup EXIT
export WINEDEBUG=-all

"$native/bin/kps410-sim" --tcp "$addr" --level "$level" --reset-ms 0 \
  --report "$dir/report" --ready-file "$dir/ready" --quiet &
sim_pid=$!
for _ in $(seq 100); do [ -e "$dir/ready" ] && break; sleep 0.05; done
[ -e "$dir/ready" ] || { echo "40-adjust: the simulator is not ready"; exit 1; }

cp "$win/bin/Trimsense.exe" "$win/bin/Portwire.dll" "$win/bin/lnkioapi.dll" "$dir/"
out=$(wine "$dir/Trimsense.exe" "-n$addr" 2>&1); rc=$?
out=$(tr -d '\r' <<<"$out")
threshold=$(sed -n 's/^threshold=//p' "$dir/report")
if [ $rc -ne 0 ] || [ "$threshold" != "70" ] || ! grep -q '^Slip Paper Sensor Adjustment success$' <<<"$out"; then
  echo "40-adjust: Trimsense.exe exit $rc, stored threshold '$threshold':"; echo "$out"; cat "$dir/report"; exit 1
fi
echo "Trimsense.exe under Wine adjusted the simulated printer: exit 0, threshold $threshold"
