#!/usr/bin/env bash
# The whole test suite: native build and tests, a thread-sanitizer build of the
# library's threaded parts, and the Windows build with its tests under Wine.
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
failed=()

step() { echo; echo "=== $*"; }

step "native build"
if ! bash scripts/build.sh; then
  echo "native build failed"; exit 1
fi

step "native tests"
ctest --test-dir build -j "$jobs" --output-on-failure || failed+=("native tests")

step "thread-sanitizer build of the library"
tsan_targets=$(cmake --build build --target help 2>/dev/null | sed -n 's/^\(portlib_[a-z]*_tests\|lnkio_tests\): .*/\1/p' | tr '\n' ' ')
if [ -n "$tsan_targets" ]; then
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTW_SANITIZE=thread >/dev/null &&
    cmake --build build-tsan -j "$jobs" --target $tsan_targets kps410-sim Portwire lnkioapi 2>&1 | tail -n 3 &&
    ctest --test-dir build-tsan -j "$jobs" --output-on-failure -R "$(echo $tsan_targets | tr ' ' '|')" ||
    failed+=("thread-sanitizer tests")
fi

step "Windows build"
if cmake -S . -B build-win -G Ninja -DCMAKE_BUILD_TYPE=Release \
     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null &&
   cmake --build build-win -j "$jobs"; then
  step "Windows tests under Wine"
  export WINEDEBUG=-all
  wineserver -p 2>/dev/null || true
  ctest --test-dir build-win -j "$jobs" --output-on-failure || failed+=("Windows tests")
  for check in scripts/wine/*.sh; do
    [ -e "$check" ] || continue
    step "Wine check $(basename "$check")"
    bash "$check" "$PWD/build" "$PWD/build-win" || failed+=("$(basename "$check")")
  done
  wineserver -k 2>/dev/null || true
else
  failed+=("Windows build")
fi

echo
if [ ${#failed[@]} -gt 0 ]; then
  printf 'FAILED: %s\n' "${failed[@]}"
  exit 1
fi
echo "All test stages passed."
