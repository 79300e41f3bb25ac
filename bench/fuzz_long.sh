#!/usr/bin/env bash
# Longer fuzzing than CI's few seconds: every libFuzzer target for SECONDS
# each (default 600), growing build-fuzz/corpus/ between runs. Copy inputs
# worth keeping into fuzz/corpus/<target>/ (minimise first with -merge=1).
# Usage: bench/fuzz_long.sh [SECONDS] [TARGET...]
cd "$(dirname "$0")/.." && exec bash scripts/fuzz.sh "${1:-600}" "${@:2}"
