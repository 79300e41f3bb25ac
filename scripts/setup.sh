#!/usr/bin/env bash
# New machine: install the build dependencies, build everything, and run the
# adjustment against the simulated printer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
bash scripts/demo.sh "$@"
