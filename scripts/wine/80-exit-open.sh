#!/usr/bin/env bash
# Windows clients that exit with a port open (no KPC_Close, no KPC_Terminate)
# end promptly under Wine, every time, and leave no connection open at the
# Linux simulated printer. At process exit Portwire.dll and lnkioapi.dll run
# their teardown under the loader lock with their threads already gone.
# Usage: 80-exit-open.sh NATIVE_BUILD WIN_BUILD
set -uo pipefail
name=80-exit-open
native="$1"
win="$2"
addr=127.0.0.81
runs=50
source "$(dirname "$0")/../wine-common.sh"

start_simulator '[ -e "$dir/ready" ]' \
  "$native/bin/kps410-sim" --tcp "$addr" --reset-ms 0 \
  --report "$dir/report" --ready-file "$dir/ready" --quiet

cp "$win/bin/exit_without_close.exe" "$win/bin/Portwire.dll" "$win/bin/lnkioapi.dll" "$dir/"
start=$(date +%s%N)
for i in $(seq "$runs"); do
  # Generous: a run takes well under a second; a hang is what this catches.
  timeout 30 wine "$dir/exit_without_close.exe" "$addr" >/dev/null 2>&1
  rc=$?
  [ $rc -eq 0 ] || fail "run $i: exit $rc (124: still running after 30 s)"
  for _ in $(seq 100); do
    grep -q '^connected=0$' "$dir/report" && break
    sleep 0.05
  done
  grep -q '^connected=0$' "$dir/report" || fail "run $i left its connection open: $(cat "$dir/report")"
done
ms=$(( ($(date +%s%N) - start) / 1000000 ))
echo "$runs Windows clients that exited with a port open ended and released it: $ms ms in all"
