#!/usr/bin/env bash
# The Windows console program under Wine: usage text and exit code 1 without
# options; "port open error" and exit code 2 without a library beside it.
set -uo pipefail
win="$2"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp "$win/bin/Trimsense.exe" "$dir/"
export WINEDEBUG=-all

out=$(wine "$dir/Trimsense.exe" 2>/dev/null); rc=$?; out=$(tr -d '\r' <<<"$out")
if [ $rc -ne 1 ] || ! grep -q "^ -tC       Communication Test only$" <<<"$out" ||
   ! grep -q "^Orlex KP-S410 Slip Paper Sensor Adjustment Tool Version1.00$" <<<"$out"; then
  echo "usage check failed (exit $rc):"; echo "$out"; exit 1
fi
out=$(wine "$dir/Trimsense.exe" -c1 2>/dev/null); rc=$?; out=$(tr -d '\r' <<<"$out")
if [ $rc -ne 2 ] || [ "$out" != $'.port open error\n.exit' ]; then
  echo "missing library check failed (exit $rc):"; echo "$out"; exit 1
fi
echo "Trimsense.exe under Wine: usage (exit 1) and port open error (exit 2) as expected"
