#!/usr/bin/env bash
# The Windows console program under Wine: usage text and exit code 1 without
# options; "port open error" and exit code 2 without a library beside it.
# Usage: 00-console.sh NATIVE_BUILD WIN_BUILD
set -uo pipefail
name=00-console
win="$2"
source "$(dirname "$0")/../wine-common.sh"

cp "$win/bin/Trimsense.exe" "$dir/"
run_wine "$dir/Trimsense.exe"
if [ $rc -ne 1 ] || ! grep -q "^ -tC       Communication Test only$" <<<"$out" ||
   ! grep -q "^Orlex KP-S410 Slip Paper Sensor Adjustment Tool Version1.00$" <<<"$out"; then
  fail "usage check failed (exit $rc): $out"
fi
run_wine "$dir/Trimsense.exe" -c1
if [ $rc -ne 2 ] || [ "$out" != $'.port open error\n.exit' ]; then
  fail "missing library check failed (exit $rc): $out"
fi
echo "Trimsense.exe under Wine: usage (exit 1) and port open error (exit 2) as expected"
