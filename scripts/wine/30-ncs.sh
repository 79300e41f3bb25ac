#!/usr/bin/env bash
# The NCS exports of the Windows Portwire.dll under Wine, against the Linux
# simulated network interface on 127.0.0.176: discovery, reads, a text and an
# address setting with log-in, and a wrong password.
# Usage: 30-ncs.sh NATIVE_BUILD WIN_BUILD
set -uo pipefail
native="$1"
win="$2"
addr=127.0.0.176
dir=$(mktemp -d)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; fi
  rm -rf "$dir"
}
trap cleanup EXIT
export WINEDEBUG=-all

for f in "$native/bin/netif-sim" "$win/bin/Portwire.dll" "$win/bin/ncs_wine_check.exe"; do
  [ -e "$f" ] || { echo "30-ncs: missing $f"; exit 1; }
done

"$native/bin/netif-sim" --address "$addr" --password pw --lifetime 120 >"$dir/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  grep -q '^ready$' "$dir/sim.out" && break
  kill -0 "$sim_pid" 2>/dev/null || { echo "30-ncs: the simulator did not start:"; cat "$dir/sim.out"; exit 1; }
  sleep 0.05
done
grep -q '^ready$' "$dir/sim.out" || { echo "30-ncs: the simulator is not ready"; exit 1; }

# Short waits: the simulator answers at once; no restart pause.
export PORTWIRE_NCS_WAIT_MS=2000 PORTWIRE_NCS_QUIET_MS=500 PORTWIRE_NCS_RESTART_WAIT_MS=0
cp "$win/bin/Portwire.dll" "$win/bin/ncs_wine_check.exe" "$dir/"
out=$(wine "$dir/ncs_wine_check.exe" "$addr" 2>&1); rc=$?
out=$(tr -d '\r' <<<"$out")
if [ $rc -ne 0 ]; then
  echo "30-ncs: ncs_wine_check.exe failed (exit $rc):"; echo "$out"; exit 1
fi
kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; sim_pid=""
if ! grep -q '^location=wine counter$' "$dir/sim.out" || ! grep -q '^ip=172.16.5.5$' "$dir/sim.out"; then
  echo "30-ncs: the simulator did not store the settings:"; cat "$dir/sim.out"; exit 1
fi
echo "Portwire.dll NCS exports under Wine: discovery, reads and settings as expected"
