#!/usr/bin/env bash
# Prints the export table of the x86 Portwire.dll (names and ordinals) and
# checks it: the KPC_ exports under their plain names, the NCS exports under
# their decorated __stdcall names (_NCSGetVersion@0), nothing else.
#   scripts/x86-exports.sh build-win32/bin/Portwire.dll
set -uo pipefail
dll=$1
table=$(i686-w64-mingw32-objdump -p "$dll" | awk '/^\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && NF == 0 {exit} on')
base=$(i686-w64-mingw32-objdump -p "$dll" | awk '/^Ordinal Base/ {print $3; exit}')
[ -n "$table" ] || { echo "x86 exports: no export table in $dll"; exit 1; }
echo "Export table of $(basename "$dll") (x86): ordinal name"
# objdump lists the index into the address table; the ordinal is base + index.
sed -E 's/^[[:space:]]*\[ *([0-9]+)\] (.*)$/\1 \2/' <<<"$table" | while read -r index name; do
  printf '%4d %s\n' $((index + base)) "$name"
done
bad=$(grep -vE '^\s*\[ *[0-9]+\] (KPC_[A-Za-z]+|_NCS[A-Za-z]+@[0-9]+)$' <<<"$table")
[ -z "$bad" ] || { echo "x86 exports: unexpected names:"; echo "$bad"; exit 1; }
grep -q '\] _NCSGetVersion@0$' <<<"$table" || { echo "x86 exports: _NCSGetVersion@0 missing"; exit 1; }
grep -q '\] KPC_Open$' <<<"$table" || { echo "x86 exports: KPC_Open missing"; exit 1; }
echo "x86 exports: $(wc -l <<<"$table") names, KPC_ plain, NCS decorated"
