#!/usr/bin/env bash
# Every name the built library exports is declared by the public header: a C
# file that takes the address of each one (listed from the library itself)
# compiles against the header alone with -Wall -Werror, and links.
#   every_export.sh LIBRARY INCLUDE_DIR C_COMPILER [EXPECTED_COUNT [LINK_FLAGS]]
# (LINK_FLAGS: a sanitizer build's flags, so the program runs with its library.)
set -euo pipefail
lib=$1 include=$2 cc=$3 expected=${4:-69} flags=${5:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

nm -D --defined-only "$lib" | awk '$2 ~ /^[TtWi]$/ {print $3}' | sort -u >"$work/names"
count=$(wc -l <"$work/names")
bad=$(grep -vE '^(KPC_|NCS)[A-Za-z]+$' "$work/names" || true)
[ -z "$bad" ] || { echo "exports other than KPC_ and NCS functions:"; echo "$bad"; exit 1; }
[ "$count" -eq "$expected" ] || { echo "the library exports $count names, expected $expected"; exit 1; }

{
  echo '#include <portwire.h>'
  echo '#include <stdio.h>'
  echo 'typedef void (*any_function)(void);'
  echo 'static const any_function every_export[] = {'
  sed 's/.*/  (any_function)\&&,/' "$work/names"
  echo '};'
  echo 'int main(void) {'
  echo '  unsigned n = 0;'
  echo '  for (unsigned i = 0; i < sizeof every_export / sizeof every_export[0]; ++i) n += every_export[i] != 0;'
  echo '  printf("%u\n", n);'
  echo '  return 0;'
  echo '}'
} >"$work/every_export.c"

# shellcheck disable=SC2086
"$cc" -std=c99 -Wall -Wextra -Werror $flags -I"$include" -o "$work/every_export" "$work/every_export.c" \
  -L"$(dirname "$lib")" -Wl,-rpath,"$(dirname "$lib")" -lPortwire
got=$("$work/every_export")
[ "$got" -eq "$expected" ] || { echo "resolved $got of $expected exports"; exit 1; }
echo "portwire.h declares all $count exports of $(basename "$lib"): $(head -1 "$work/names") ... $(tail -1 "$work/names")"
