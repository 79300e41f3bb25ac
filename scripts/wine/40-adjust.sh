#!/usr/bin/env bash
# The Windows programs under Wine adjust the Linux simulated printer over TCP:
# Trimsense.exe loads Portwire.dll, which reaches the printer through
# lnkioapi.dll. The printer must end up with the threshold for its level.
# Usage: 40-adjust.sh NATIVE_BUILD WIN_BUILD
set -uo pipefail
name=40-adjust
native="$1"
win="$2"
addr=127.0.0.62
level=200   # threshold 70
source "$(dirname "$0")/../wine-common.sh"

start_simulator '[ -e "$dir/ready" ]' \
  "$native/bin/kps410-sim" --tcp "$addr" --level "$level" --reset-ms 0 \
  --report "$dir/report" --ready-file "$dir/ready" --quiet

cp "$win/bin/Trimsense.exe" "$win/bin/Portwire.dll" "$win/bin/lnkioapi.dll" "$dir/"
run_wine "$dir/Trimsense.exe" "-n$addr"
threshold=$(sed -n 's/^threshold=//p' "$dir/report")
if [ $rc -ne 0 ] || [ "$threshold" != "70" ] || ! grep -q '^Slip Paper Sensor Adjustment success$' <<<"$out"; then
  fail "Trimsense.exe exit $rc, stored threshold '$threshold': $out $(cat "$dir/report")"
fi
echo "Trimsense.exe under Wine adjusted the simulated printer: exit 0, threshold $threshold"
