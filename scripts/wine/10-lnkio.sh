#!/usr/bin/env bash
# The Windows port-access library under Wine: lnkioapi.dll opens a network link
# to the Linux simulated printer on 127.0.0.61:9100, sends the model query and
# gets its reply back whole ("$" at index 3).
# Usage: 10-lnkio.sh NATIVE_BUILD WIN_BUILD
set -uo pipefail
native="$1"
win="$2"
addr=127.0.0.61
dir=$(mktemp -d)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; fi
  rm -rf "$dir"
}
trap cleanup EXIT
export WINEDEBUG=-all

for f in "$native/bin/kps410-sim" "$win/bin/lnkioapi.dll" "$win/bin/lnkio_exchange.exe"; do
  [ -e "$f" ] || { echo "10-lnkio: missing $f"; exit 1; }
done

"$native/bin/kps410-sim" --tcp "$addr" --report "$dir/report" --ready-file "$dir/ready" --quiet &
sim_pid=$!
for _ in $(seq 100); do
  [ -e "$dir/ready" ] && break
  kill -0 "$sim_pid" 2>/dev/null || { echo "10-lnkio: the simulator did not start"; exit 1; }
  sleep 0.05
done
[ -e "$dir/ready" ] || { echo "10-lnkio: the simulator is not ready"; exit 1; }

# The program loads lnkioapi.dll by name from its own folder.
cp "$win/bin/lnkioapi.dll" "$win/bin/lnkio_exchange.exe" "$dir/"
out=$(wine "$dir/lnkio_exchange.exe" "$addr" 2>&1); rc=$?
out=$(tr -d '\r' <<<"$out")
if [ $rc -ne 0 ]; then
  echo "10-lnkio: lnkio_exchange.exe failed (exit $rc):"; echo "$out"; exit 1
fi
if ! grep -q '^commands=model_query$' "$dir/report"; then
  echo "10-lnkio: the simulator did not receive exactly the model query:"; cat "$dir/report"; exit 1
fi
echo "lnkioapi.dll under Wine: model query exchanged with the simulated printer ($out)"
