#!/usr/bin/env bash
# Runs the example client against the simulated printer on a loopback
# address and checks what it printed: the status callback, the model reply
# ("$" at index 3) and the printer's status.
#   example_sim.sh EXAMPLE SIMULATOR [ADDRESS]
set -euo pipefail
example=$1 simulator=$2 address=${3:-127.0.0.141}
work=$(mktemp -d)
sim=""
cleanup() {
  [ -z "$sim" ] || { kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT

"$simulator" --tcp "$address" --ready-file "$work/ready" --quiet &
sim=$!
for _ in $(seq 100); do [ -e "$work/ready" ] && break; sleep 0.05; done
[ -e "$work/ready" ] || { echo "the simulated printer did not start"; exit 1; }

rc=0
PORTWIRE_TRACE="$work/trace" "$example" NET "$address" >"$work/out" 2>&1 || rc=$?
cat "$work/out"
[ "$rc" -eq 0 ] || { echo "example ended with $rc"; exit 1; }
grep -q '^status callback: ' "$work/out" || { echo "no status callback"; exit 1; }
grep -qE '^reply \([0-9]+ bytes\):( [0-9A-F]{2}){3} 24' "$work/out" || { echo "no model reply with \$ at index 3"; exit 1; }
grep -qE '^status: [0-9]+ ' "$work/out" || { echo "no status line"; exit 1; }
grep -q 'KPC_Read' "$work/trace" || { echo "PORTWIRE_TRACE wrote no KPC_Read line"; exit 1; }
echo "example client talked to the simulated printer"
