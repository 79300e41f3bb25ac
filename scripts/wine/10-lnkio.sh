#!/usr/bin/env bash
# The Windows port-access library under Wine: lnkioapi.dll opens a network link
# to the Linux simulated printer on 127.0.0.61:9100, sends the model query and
# gets its reply back whole ("$" at index 3).
# Usage: 10-lnkio.sh NATIVE_BUILD WIN_BUILD
set -uo pipefail
name=10-lnkio
native="$1"
win="$2"
addr=127.0.0.61
source "$(dirname "$0")/../wine-common.sh"

for f in "$native/bin/kps410-sim" "$win/bin/lnkioapi.dll" "$win/bin/lnkio_exchange.exe"; do
  [ -e "$f" ] || fail "missing $f"
done
start_simulator '[ -e "$dir/ready" ]' \
  "$native/bin/kps410-sim" --tcp "$addr" --report "$dir/report" --ready-file "$dir/ready" --quiet

# The program loads lnkioapi.dll by name from its own folder.
cp "$win/bin/lnkioapi.dll" "$win/bin/lnkio_exchange.exe" "$dir/"
run_wine "$dir/lnkio_exchange.exe" "$addr"
[ $rc -eq 0 ] || fail "lnkio_exchange.exe failed (exit $rc): $out"
grep -q '^commands=model_query$' "$dir/report" ||
  fail "the simulator did not receive exactly the model query: $(cat "$dir/report")"
echo "lnkioapi.dll under Wine: model query exchanged with the simulated printer ($out)"
