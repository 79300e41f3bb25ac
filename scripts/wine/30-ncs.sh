#!/usr/bin/env bash
# The NCS exports of the Windows Portwire.dll under Wine, against the Linux
# simulated network interface on 127.0.0.176: discovery, reads, a text and an
# address setting with log-in, and a wrong password.
# Usage: 30-ncs.sh NATIVE_BUILD WIN_BUILD
set -uo pipefail
name=30-ncs
native="$1"
win="$2"
addr=127.0.0.176
source "$(dirname "$0")/../wine-common.sh"

# The test build of the library (bin/test-waits/): only it reads the timing
# variables below; the shipped Portwire.dll keeps the protocol's waits.
for f in "$native/bin/netif-sim" "$win/bin/test-waits/Portwire.dll" "$win/bin/ncs_wine_check.exe"; do
  [ -e "$f" ] || fail "missing $f"
done
start_simulator "grep -q '^ready\$' \"\$dir/sim.out\"" \
  sh -c "exec \"\$0\" --address $addr --password pw --lifetime 120 >\"$dir/sim.out\" 2>&1" "$native/bin/netif-sim"

# Short waits: the simulator answers at once; no restart pause.
export PORTWIRE_NCS_WAIT_MS=2000 PORTWIRE_NCS_QUIET_MS=500 PORTWIRE_NCS_RESTART_WAIT_MS=0
cp "$win/bin/test-waits/Portwire.dll" "$win/bin/ncs_wine_check.exe" "$dir/"
run_wine "$dir/ncs_wine_check.exe" "$addr"
[ $rc -eq 0 ] || fail "ncs_wine_check.exe failed (exit $rc): $out"
stop_simulator
if ! grep -q '^location=wine counter$' "$dir/sim.out" || ! grep -q '^ip=172.16.5.5$' "$dir/sim.out"; then
  fail "the simulator did not store the settings: $(cat "$dir/sim.out")"
fi
echo "Portwire.dll NCS exports under Wine: discovery, reads and settings as expected"
