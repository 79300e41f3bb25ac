#!/usr/bin/env bash
# The Windows archive and its installer helper: cpack makes the zip from the
# Windows build (the manual from the native build), the zip holds Kitdrop.exe
# beside the delivered files, and Kitdrop.exe, its real folder dialog driven
# by kitdrop_driver.exe, copies them into a new product folder; a second run
# into the same folder ends with -1 and a cancelled dialog with 0, touching
# nothing.
# Usage: 70-kitdrop.sh NATIVE_BUILD WIN_BUILD
set -uo pipefail
name=70-kitdrop
native="$1"
win="$2"
source "$(dirname "$0")/../wine-common.sh"

command -v Xvfb >/dev/null || { echo "$name: Xvfb missing, skipped"; exit 0; }
[ -e "$win/bin/Kitdrop.exe" ] || fail "Kitdrop.exe was not built"

manual_arg=()
[ -e "$native/bin/Manual.pdf" ] && manual_arg=(-DTW_MANUAL_PDF="$native/bin/Manual.pdf")
cmake "${manual_arg[@]}" "$win" >/dev/null || fail "cmake"
(cd "$win" && cpack -G ZIP >"$dir/cpack.log" 2>&1) || fail "cpack: $(cat "$dir/cpack.log")"
zip=$(ls "$win"/trimsense-*-win*.zip 2>/dev/null | head -1)
[ -n "$zip" ] || fail "no zip made"
mkdir -p "$dir/unpacked"
(cd "$dir/unpacked" && unzip -q "$zip") || fail "unzip $zip"
kit=$(ls -d "$dir"/unpacked/*/ | head -1)
for f in Kitdrop.exe Trimsense.exe Portwire.dll lnkioapi.dll License.txt; do
  [ -e "$kit/$f" ] || fail "$(basename "$zip") lacks $f"
done
[ -e "$native/bin/Manual.pdf" ] && { [ -e "$kit/Manual.pdf" ] || fail "$(basename "$zip") lacks Manual.pdf"; }
echo "$(basename "$zip"): $(cd "$kit" && ls | tr '\n' ' ')"

# The chosen folder lies directly on Wine's C: drive: Wine's dialog selects a
# folder by walking its tree, which busy folders such as /tmp (Z:) defeat.
chosen_win="C:\\kitdrop-check-$$"
chosen=$(winepath -u "$chosen_win" 2>/dev/null)
[ -n "$chosen" ] || fail "no Wine prefix"
rm -rf "$chosen" && mkdir -p "$chosen"
fresh_wine_session
# One X screen for all runs: Wine's desktop process, which outlives a single
# program, keeps its display.
Xvfb -displayfd 3 -screen 0 1024x768x24 3>"$dir/display" >/dev/null 2>&1 &
xvfb=$!
trap 'rm -rf "$chosen"; wine_check_cleanup; kill $xvfb 2>/dev/null' EXIT
for _ in $(seq 100); do [ -s "$dir/display" ] && break; sleep 0.05; done
[ -s "$dir/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(cat "$dir/display")"
driver() { wine "$win/bin/kitdrop_driver.exe" "$(winepath -w "$kit/Kitdrop.exe")" "$@" 2>&1 | tr -d '\r'; }
product="$chosen/Orlex KP-S410 Slip Paper Sensor Adjustment Tool"

out=$(driver --cancel)
[ -z "$(ls -A "$chosen")" ] || fail "cancelled dialog touched the folder"
grep -q "exit code 0" <<<"$out" || fail "cancel: $out"

out=$(driver "$chosen_win")
grep -q "exit code 0" <<<"$out" || fail "first run: $out"
copied=0
for f in "$kit"/*; do
  base=$(basename "$f")
  [ "$base" = Kitdrop.exe ] && continue
  # The port listing ships beside the installer for support's use; Kitdrop
  # installs its own fixed set of files, which does not include it.
  if [ "$base" = portwire-ports.exe ]; then
    [ ! -e "$product/$base" ] || fail "Kitdrop copied $base, which is not one of its files"
    continue
  fi
  cmp -s "$f" "$product/$base" || fail "$base not copied intact"
  copied=$((copied + 1))
done
[ ! -e "$product/Kitdrop.exe" ] || fail "Kitdrop.exe copied itself"
echo "Kitdrop.exe under Wine: $copied files copied into the new product folder"

echo changed > "$kit/License.txt"
out=$(driver "$chosen_win")
grep -q "exit code -1" <<<"$out" || fail "second run: $out"
grep -q "^message: The folder .* could not be created" <<<"$out" || fail "second run showed no message: $out"
[ "$(cat "$product/License.txt")" != changed ] || fail "second run changed the first copy"
echo "second run into the same folder: exit code -1, first copy untouched"
