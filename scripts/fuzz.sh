#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, in build-fuzz/) and runs each from its
# committed seed corpus (fuzz/corpus/<target>/) for SECONDS (default 5).
# New inputs go to build-fuzz/corpus/<target>/ (kept between runs), crashes to
# build-fuzz/artifacts/. Prints the executions per target; exit 1 when a
# target found a fault or did not build.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -uo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-5}"
shift $(( $# > 0 ? 1 : 0 ))
if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for d in fuzz/corpus/*/; do targets+=("$(basename "$d")"); done
fi

if ! CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTW_FUZZ=ON >/dev/null ||
   ! cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]}" >/dev/null; then
  echo "fuzz targets did not build"; exit 1
fi

mkdir -p build-fuzz/artifacts
failed=0
for t in "${targets[@]}"; do
  mkdir -p "build-fuzz/corpus/$t"
  log="build-fuzz/$t.log"
  # The first folder receives new inputs; the committed seeds stay untouched.
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "build-fuzz/bin/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="build-fuzz/artifacts/$t-" "build-fuzz/corpus/$t" "fuzz/corpus/$t" >"$log" 2>&1
  rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
  if [ $rc -ne 0 ]; then
    echo "$t: FAULT FOUND (exit $rc) after ${runs:-?} executions; see $log"
    grep -m1 -E 'ERROR|runtime error|deadly signal' "$log"
    failed=1
  else
    echo "$t: ${runs:-?} executions in ${seconds}s, ${cov:-cov: ?}"
  fi
done
exit $failed
