#!/usr/bin/env bash
# The whole test suite: native build and tests, the Debian package check,
# every native test again under ASan+UBSan, a thread-sanitizer build of the
# library's threaded parts, short libFuzzer runs of every parser of outside
# input, and the Windows builds (64- and 32-bit) with their tests under Wine.
# Each stage prints how long it took.
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
failed=()

# Every Windows run uses a Wine prefix of this checkout's own. A prefix made
# before 32-bit Wine was installed cannot start programs afterwards, and a
# user's own prefix is none of the tests' business.
export WINEPREFIX="${TW_WINEPREFIX:-$PWD/build-wineprefix}"

# Debian's `wine` starts the 32-bit loader whenever wine32 is installed, even
# for 64-bit programs. Where this machine cannot execute 32-bit programs at all
# (a kernel without 32-bit support), every Windows run would fail with "Exec
# format error": the 64-bit checks then go through the 64-bit loader, and the
# x86 stage below finds that it cannot run and says so.
if ! wine --version >/dev/null 2>&1 && /usr/lib/wine/wine64 --version >/dev/null 2>&1; then
  wine_shim="$PWD/build-wine-shim"
  mkdir -p "$wine_shim"
  for name in wine wine-stable; do
    printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$wine_shim/$name"
    chmod +x "$wine_shim/$name"
  done
  export PATH="$wine_shim:$PATH" WINELOADER=/usr/lib/wine/wine64
  echo "This machine cannot run 32-bit programs: Windows checks use Wine's 64-bit loader."
fi

stage_start=$SECONDS
stage_name=""
step() {
  [ -n "$stage_name" ] && echo "--- $stage_name: $((SECONDS - stage_start)) s"
  stage_name="$*"
  stage_start=$SECONDS
  echo; echo "=== $*"
}

step "native build"
if ! bash scripts/build.sh; then
  echo "native build failed"; exit 1
fi

step "native tests"
ctest --test-dir build -j "$jobs" --output-on-failure || failed+=("native tests")
# The hostile-client probe's summary: how many calls it made and what came back.
grep -h '^probe summary:' build/Testing/Temporary/LastTest.log 2>/dev/null || echo "probe summary: not found"

step "Debian package: build, lintian, install, run, remove"
# A separate stage: packs the native build, installs the package into this
# machine (CI runs as root), adjusts the simulated printer with the installed
# program and removes the package again.
bash scripts/package-check.sh build || failed+=("Debian package")

step "address-sanitizer build (ASan+UBSan) and every native test"
# Same tests as above; a sanitizer report fails the test that caused it.
# verify_asan_link_order=0: tests that preload a fake device layer.
if cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTW_SANITIZE=address >/dev/null &&
   cmake --build build-asan -j "$jobs" >build-asan/build.log 2>&1; then
  ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:verify_asan_link_order=0" \
  UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    ctest --test-dir build-asan -j "$jobs" --output-on-failure || failed+=("address-sanitizer tests")
  grep -h '^probe summary:' build-asan/Testing/Temporary/LastTest.log 2>/dev/null | sed 's/^/ASan /'
else
  tail -30 build-asan/build.log 2>/dev/null
  failed+=("address-sanitizer build")
fi

step "thread-sanitizer build of the threaded parts"
# The library's queues, monitor thread and callbacks, the port-access
# library's concurrent reads and writes, the network settings client, and the
# driver-software backends whose components call back on their own threads,
# and the front end's searches on a worker thread.
tsan_tests="platform_tests portlib_manager_tests portlib_outside_client_tests portlib_backends_tests portlib_notify_tests portlib_hotplug_udev_tests portlib_direct_sim_tests portlib_api_tests lnkio_tcp_tests lnkio_pty_tests lnkio_device_tests ncs_client_tests portlib_route1_sim_tests portlib_api_maintenance_tests gui_logic_tests gui_discovery_tests"
if cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTW_SANITIZE=thread >/dev/null &&
   cmake --build build-tsan -j "$jobs" --target $tsan_tests Portwire lnkioapi kps410-sim netif-sim >/dev/null; then
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    ctest --test-dir build-tsan -j "$jobs" --output-on-failure -R "^($(echo $tsan_tests | tr ' ' '|'))\$" ||
    failed+=("thread-sanitizer tests")
else
  failed+=("thread-sanitizer build")
fi

step "fuzzing: every target a few seconds from its seed corpus"
# clang and its sanitizer runtimes (libclang-rt) come from scripts/packages.txt.
bash scripts/fuzz.sh 5 || failed+=("fuzzing")

step "Windows build"
if cmake -S . -B build-win -G Ninja -DCMAKE_BUILD_TYPE=Release \
     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null &&
   cmake --build build-win -j "$jobs"; then
  step "Windows tests under Wine"
  export WINEDEBUG=-all
  # Create or update the Wine prefix once, before any program runs in it.
  wineboot -i >/dev/null 2>&1 || true
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

step "Windows x86 build"
# The 32-bit library for point-of-sale applications that are 32-bit processes:
# __stdcall is real there, so the export table is shown and checked.
x86_start=$(date +%s)
# Where no 32-bit program can run (no 32-bit Wine loader, or a kernel without
# 32-bit support), nothing but the library is needed: its export table.
x86_targets=""
/usr/lib/wine/wine --version >/dev/null 2>&1 || x86_targets="--target Portwire"
if cmake -S . -B build-win32 -G Ninja -DCMAKE_BUILD_TYPE=Release \
     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake >/dev/null &&
   cmake --build build-win32 -j "$jobs" $x86_targets; then
  bash scripts/x86-exports.sh build-win32/bin/Portwire.dll || failed+=("x86 export table")
  export WINEDEBUG=-all
  wineboot -i >/dev/null 2>&1 || true
  # Without 32-bit Wine a 32-bit program "ends" with 0 and prints nothing, so
  # the check looks for the test list itself.
  if wine build-win32/bin/lnkio_framer_tests.exe --gtest_list_tests 2>/dev/null | grep -q '^[A-Za-z][A-Za-z0-9_/]*\.'; then
    step "Windows x86 tests under 32-bit Wine"
    ctest --test-dir build-win32 -j "$jobs" --output-on-failure || failed+=("Windows x86 tests")
    for check in scripts/wine/*.sh; do
      [ -e "$check" ] || continue
      step "Wine x86 check $(basename "$check")"
      bash "$check" "$PWD/build" "$PWD/build-win32" || failed+=("x86 $(basename "$check")")
    done
  else
    echo "32-bit Windows programs cannot run here (wine32:i386 missing, or no 32-bit support in this kernel): x86 tests skipped; the x86 build and its export table were checked"
  fi
  wineserver -k 2>/dev/null || true
else
  failed+=("Windows x86 build")
fi
echo "x86 stage: $(( $(date +%s) - x86_start )) s"

step "summary"
echo "total: $SECONDS s"
if [ ${#failed[@]} -gt 0 ]; then
  printf 'FAILED: %s\n' "${failed[@]}"
  exit 1
fi
echo "All test stages passed."
