#!/usr/bin/env bash
# Builds the Debian packages (trimsense and trimsense-dev) from the native
# build in build/, checks them with lintian, installs them, adjusts the
# simulated printer with the installed Trimsense, builds the example client
# against the installed packages with pkg-config alone and runs it against the
# simulated printer, renders the man page and removes the packages again.
# Needs root (CI runs as root) or password-less sudo.
#   scripts/package-check.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo -n"; fi
fail() { echo "package check: $*" >&2; exit 1; }
# dpkg, waiting (up to 5 minutes) while another package manager holds its lock.
dpkg_locked() {
  local out
  for _ in $(seq 150); do
    if out=$($SUDO dpkg "$@" 2>&1); then return 0; fi
    echo "$out" | grep -q 'lock' || { echo "$out" >&2; return 1; }
    sleep 2
  done
  echo "$out" >&2
  return 1
}

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
arch=$(dpkg --print-architecture)
deb="$build/trimsense_${version}_${arch}.deb"
devdeb="$build/trimsense-dev_${version}_${arch}.deb"
rm -f "$deb" "$devdeb"
(cd "$build" && cpack -G DEB >"$build/cpack-deb.log" 2>&1) || { cat "$build/cpack-deb.log"; fail "cpack failed"; }
for f in "$deb" "$devdeb"; do
  [ -f "$f" ] || fail "$f was not made"
  echo "built $(basename "$f")"
done
dev_version=$(dpkg-deb -f "$devdeb" Version)
[ "$dev_version" = "$version" ] || fail "trimsense-dev has version '$dev_version', the product $version"

if command -v lintian >/dev/null; then
  lintian_out=$(lintian "$deb" "$devdeb" 2>&1 | grep -v 'running with root privileges' || true)
  [ -n "$lintian_out" ] && echo "$lintian_out"
  if echo "$lintian_out" | grep -q '^E:'; then fail "lintian reports errors"; fi
  echo "lintian: no errors"
fi

work=$(mktemp -d)
sim=""
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
  rm -rf "$work"
  # Never leave the packages behind, whatever failed.
  if dpkg -s trimsense-dev >/dev/null 2>&1; then dpkg_locked --purge trimsense-dev || true; fi
  if dpkg -s trimsense >/dev/null 2>&1; then dpkg_locked --purge trimsense || true; fi
}
trap cleanup EXIT

# Minimal images exclude man pages and documents from packages; ours must be
# there to be checked.
dpkg_locked --path-include='/usr/share/man/man1/*' --path-include='/usr/share/doc/trimsense/*' \
  --path-include='/usr/share/doc/trimsense-dev/*' -i "$deb" "$devdeb" || fail "dpkg -i failed"
for f in /usr/bin/Trimsense /usr/bin/portwire-ports /usr/lib/trimsense/libPortwire.so /usr/lib/trimsense/liblnkioapi.so \
         /usr/share/doc/trimsense/copyright /usr/lib/udev/rules.d/70-trimsense.rules; do
  [ -e "$f" ] || fail "$f missing after installation"
done
# Parts that need Qt at build time are checked when the build made them.
[ ! -e "$build/bin/Kitdrop" ] || [ -e /usr/bin/Kitdrop ] || fail "/usr/bin/Kitdrop missing after installation"
[ ! -e "$build/bin/Manual.pdf" ] || [ -e /usr/share/doc/trimsense/Manual.pdf ] ||
  fail "Manual.pdf missing after installation"
if [ -e "$build/bin/TrimsenseGUI" ]; then
  for f in /usr/bin/TrimsenseGUI /usr/share/applications/trimsense.desktop; do
    [ -e "$f" ] || fail "$f missing after installation"
  done
fi

# The installed console program, started through its link on the path, finds
# its library in /usr/lib/trimsense and adjusts the simulated printer.
address=127.0.0.41
"$build/bin/kps410-sim" --tcp "$address" --level 100 --reset-ms 500 \
  --report "$work/report" --ready-file "$work/ready" --quiet &
sim=$!
for _ in $(seq 100); do [ -e "$work/ready" ] && break; sleep 0.05; done
(cd "$work" && env -u LD_LIBRARY_PATH Trimsense "-n$address" >"$work/out" 2>&1) || {
  cat "$work/out"; fail "installed Trimsense ended with $?"; }
threshold=$(sed -n 's/^threshold=//p' "$work/report")
[ "$threshold" = 35 ] || { cat "$work/out"; fail "printer holds threshold '$threshold', expected 35"; }
echo "installed Trimsense adjusted the simulated printer (threshold $threshold)"

# The development package: the header and pkg-config file where a compiler
# and pkg-config look by themselves, and a program built from the installed
# example with nothing but pkg-config's flags runs against the installed
# library (its run path, not LD_LIBRARY_PATH) and talks to the printer.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
for f in /usr/include/portwire.h /usr/include/portwire_ncs.h "/usr/lib/$multiarch/pkgconfig/portwire.pc" \
         /usr/share/doc/trimsense-dev/examples/portwire_example.c /usr/share/doc/trimsense-dev/copyright; do
  [ -e "$f" ] || fail "$f missing after installation"
done
pc_version=$(env -u PKG_CONFIG_PATH pkg-config --modversion portwire) || fail "pkg-config does not find portwire"
[ "$pc_version" = "$version" ] || fail "pkg-config reports portwire $pc_version, the product is $version"
cp /usr/share/doc/trimsense-dev/examples/portwire_example.c "$work/app.c"
# shellcheck disable=SC2046
(cd "$work" && env -u PKG_CONFIG_PATH -u CPATH -u C_INCLUDE_PATH -u LIBRARY_PATH \
   cc -Wall -Werror app.c $(env -u PKG_CONFIG_PATH pkg-config --cflags --libs portwire) -o app) ||
  fail "the example does not build with pkg-config's flags"
echo "example client built with: cc app.c $(env -u PKG_CONFIG_PATH pkg-config --cflags --libs portwire)"
(cd "$work" && env -u LD_LIBRARY_PATH ./app NET "$address" >"$work/app.out" 2>&1) || {
  cat "$work/app.out"; fail "the example client ended with $?"; }
grep -qE '^reply \([0-9]+ bytes\):( [0-9A-F]{2}){3} 24' "$work/app.out" || {
  cat "$work/app.out"; fail "the example client got no model reply"; }
grep -q '^status callback: ' "$work/app.out" || { cat "$work/app.out"; fail "the example's status callback never ran"; }
echo "installed example client talked to the simulated printer: $(grep '^reply' "$work/app.out")"

man_text=$(MANPAGER=cat MANWIDTH=80 man Trimsense 2>&1) || fail "man Trimsense: $man_text"
for section in OPTIONS "EXIT STATUS" ENVIRONMENT PORTWIRE_DOSDEVICES; do
  echo "$man_text" | grep -q "$section" || fail "man Trimsense lacks $section"
done
echo "man Trimsense renders"

# The installed port listing loads the installed library and lists the
# simulated printer's serial port through a comN link; its JSON parses.
mkdir -p "$work/dosdevices"
ln -s /dev/null "$work/dosdevices/com77"
ports_json=$(cd "$work" && env -u LD_LIBRARY_PATH PORTWIRE_DOSDEVICES="$work/dosdevices" portwire-ports --json) ||
  fail "installed portwire-ports ended with $?"
echo "$ports_json" | /usr/bin/python3 -m json.tool >/dev/null || fail "portwire-ports --json is not JSON: $ports_json"
echo "$ports_json" | grep -q '"options": "-c77"' || fail "portwire-ports does not list COM77: $ports_json"
man_text=$(MANPAGER=cat MANWIDTH=80 man portwire-ports 2>&1) || fail "man portwire-ports: $man_text"
echo "$man_text" | grep -q "EXIT STATUS" || fail "man portwire-ports lacks EXIT STATUS"
echo "installed portwire-ports lists ports; its man page renders"

dpkg_locked --purge trimsense-dev trimsense || fail "dpkg --purge failed"
for f in /usr/bin/Trimsense /usr/bin/portwire-ports /usr/lib/trimsense /usr/share/doc/trimsense \
         /usr/lib/udev/rules.d/70-trimsense.rules /usr/share/man/man1/Trimsense.1.gz /usr/share/man/man1/portwire-ports.1.gz \
         /usr/include/portwire.h "/usr/lib/$multiarch/pkgconfig/portwire.pc" /usr/share/doc/trimsense-dev; do
  [ ! -e "$f" ] || fail "$f left behind after removal"
done
echo "packages removed cleanly"
