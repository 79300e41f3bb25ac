#!/usr/bin/env bash
# TrimsenseGUI.exe needs nothing beside itself but Windows' own DLLs, and it
# carries its icon, dialogs, version resource and manifest.
#   image_check.sh OBJDUMP TrimsenseGUI.exe
set -uo pipefail
objdump=${1:-x86_64-w64-mingw32-objdump}
exe=$2
command -v "$objdump" >/dev/null || objdump=x86_64-w64-mingw32-objdump
fail() { echo "FAIL: $*"; exit 1; }

headers=$("$objdump" -p "$exe") || fail "objdump cannot read $exe"
dlls=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | sort -u)
[ -n "$dlls" ] || fail "no imports listed"
system="kernel32.dll user32.dll gdi32.dll comctl32.dll advapi32.dll shell32.dll shlwapi.dll ws2_32.dll
        iphlpapi.dll setupapi.dll msvcrt.dll ole32.dll"
for dll in $dlls; do
  case " $(echo $system) " in
    *" $dll "*) ;;
    *) fail "imports $dll, which is not a system DLL" ;;
  esac
done
echo "imports: $(echo $dlls)"

# The resource directory as "type name" pairs (hex ids): 5 dialogs, 14 icon
# group, 16 version, 24 manifest.
resources=$(sed -nE 's/^[0-9a-f]+   Entry: ID: 0x([0-9a-f]+),.*/T \1/p; s/^[0-9a-f]+     Entry: ID: 0x([0-9a-f]+),.*/N \1/p' \
              <<<"$headers" | while read -r level id; do
                if [ "$level" = T ]; then type=$((16#$id)); else echo "$type $((16#$id))"; fi
              done)
for want in "5 101" "5 102" "5 129" "5 130" "5 131" "5 132" "14 128" "16 1" "24 1"; do
  grep -qx "$want" <<<"$resources" || fail "no resource '$want' (type id): $(echo $resources)"
done
[ "$(grep -c '^24 ' <<<"$resources")" = 1 ] || fail "more than one manifest"

utf16=$(strings -el "$exe")
for value in "Orlex KP-S410 Slip Paper Sensor Adjustment Tool for GUI" "TrimsenseGUI.exe" "1.0.0.0" \
             "FileDescription" "ProductName" "InternalName" "OriginalFilename"; do
  grep -qF "$value" <<<"$utf16" || fail "version resource lacks \"$value\""
done
manifest=$(strings -a "$exe")
for value in 'level="requireAdministrator"' 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' \
             '<dpiAware'; do
  grep -qF "$value" <<<"$manifest" || fail "manifest lacks $value"
done
echo "version resource, manifest, icon group 128 and dialogs present"
