#!/usr/bin/env bash
# A Windows client that frees Portwire.dll with a port open and without
# KPC_Terminate (FreeLibrary while the library's monitor thread runs), fifty
# times in one process, ends every round and leaves no connection open at the
# Linux simulated printer. The library's static objects run under the loader
# lock then: its threads must be stopped without waiting for their end.
# Usage: 85-unload-open.sh NATIVE_BUILD WIN_BUILD
set -uo pipefail
name=85-unload-open
native="$1"
win="$2"
addr=127.0.0.85
rounds=50
source "$(dirname "$0")/../wine-common.sh"

start_simulator '[ -e "$dir/ready" ]' \
  "$native/bin/kps410-sim" --tcp "$addr" --reset-ms 0 \
  --report "$dir/report" --ready-file "$dir/ready" --quiet

cp "$win/bin/unload_without_terminate.exe" "$win/bin/Portwire.dll" "$win/bin/lnkioapi.dll" "$dir/"
start=$(date +%s%N)
# The client bounds each round itself (exit 3); this bounds the whole run.
run_wine_timeout() { out=$(timeout 120 wine "$@" 2>/dev/null); rc=$?; out=$(tr -d '\r' <<<"$out"); }
run_wine_timeout "$dir/unload_without_terminate.exe" "$addr" "$rounds"
[ $rc -eq 0 ] || fail "exit $rc (3: a round hung; 124: still running after 120 s): $out"
for _ in $(seq 100); do
  grep -q '^connected=0$' "$dir/report" && break
  sleep 0.05
done
grep -q '^connected=0$' "$dir/report" || fail "a connection stayed open: $(cat "$dir/report")"
# Every round's write went out (the client checks it), so every round linked;
# the simulator counts only the connections it accepted before the client,
# quick under Wine, had closed them again.
connections=$(sed -n 's/^connections=//p' "$dir/report")
[ "${connections:-0}" -ge 1 ] || fail "the printer saw no connection"
ms=$(( ($(date +%s%N) - start) / 1000000 ))
echo "$out"
echo "$rounds rounds of FreeLibrary with a port open and no KPC_Terminate under Wine: $ms ms in all ($connections connections accepted)"
