#!/usr/bin/env bash
# The main job against the simulated printer: start a simulated KP-S410 on a
# loopback address, run the adjustment over the network port, show the
# threshold the printer stored.
#   scripts/demo.sh [level]      (sensor level the printer measures, default 180)
set -uo pipefail
cd "$(dirname "$0")/.."
level="${1:-180}"
address=127.0.0.5
bin=build/bin
work=$(mktemp -d)
report="$work/printer.report"

"$bin/kps410-sim" --tcp "$address" --level "$level" --reset-ms 1000 \
  --report "$report" --ready-file "$work/ready" --quiet &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -e "$work/ready" ] && break; sleep 0.05; done

echo "Simulated KP-S410 on $address:9100, sensor level $level"
echo "\$ $bin/Trimsense -n$address"
"$bin/Trimsense" "-n$address"
rc=$?
echo "Trimsense exit code: $rc"
threshold=$(sed -n 's/^threshold=//p' "$report")
writes=$(sed -n 's/^threshold_writes=//p' "$report")
echo "Threshold stored in the printer: $threshold (written $writes time(s))"
exit $rc
