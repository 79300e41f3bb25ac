#!/usr/bin/env bash
# KPC_EnumDevPort of the Windows Portwire.dll under Wine: "COM", "USB", "LPT"
# and "SERIAL" list without a crash and return 0, an unknown type 0x80000000.
# Usage: 50-enumdevport.sh NATIVE_BUILD WIN_BUILD
set -uo pipefail
name=50-enumdevport
win="$2"
source "$(dirname "$0")/../wine-common.sh"

for f in "$win/bin/Portwire.dll" "$win/bin/lnkioapi.dll" "$win/bin/enum_wine_check.exe"; do
  [ -e "$f" ] || fail "missing $f"
done
cp "$win/bin/Portwire.dll" "$win/bin/lnkioapi.dll" "$win/bin/enum_wine_check.exe" "$dir/"
run_wine "$dir/enum_wine_check.exe"
[ $rc -eq 0 ] || fail "enum_wine_check.exe failed (exit $rc): $out"
echo "Portwire.dll KPC_EnumDevPort under Wine:"
echo "$out"
