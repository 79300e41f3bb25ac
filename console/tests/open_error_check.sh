#!/usr/bin/env bash
# Trimsense on a serial port that the user may not open: standard output keeps
# its fixed text, one line on standard error names the device, the system's
# reason and the group that grants access, and the exit code is 2.
#
# Root may open anything, so as root the program runs as the user "nobody";
# otherwise the device node simply has no permissions. Exit 77 (skipped) where
# neither is possible.
#   open_error_check.sh BIN_DIR
set -u
bin=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
mkdir "$work/dos"
: >"$work/ttyS9"
chmod 000 "$work/ttyS9"
ln -s "$work/ttyS9" "$work/dos/com7"

as_user=()
if [ "$(id -u)" -eq 0 ]; then
  if command -v setpriv >/dev/null && id nobody >/dev/null 2>&1; then
    as_user=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups)
  else
    echo "skipped: running as root and no way to become an unprivileged user"; exit 77
  fi
fi
# The program and its libraries must be readable by that user.
if ! "${as_user[@]}" test -r "$bin/Trimsense" 2>/dev/null && [ ${#as_user[@]} -gt 0 ]; then
  echo "skipped: $bin is not readable by the unprivileged user"; exit 77
fi
if "${as_user[@]}" test -r "$work/ttyS9"; then
  echo "skipped: the test device can be opened after all"; exit 77
fi

PORTWIRE_DOSDEVICES="$work/dos" "${as_user[@]}" "$bin/Trimsense" -c7 >"$work/out" 2>"$work/err"
code=$?

fail=0
check() { if ! eval "$1"; then echo "FAILED: $2"; fail=1; fi; }
check '[ "$code" -eq 2 ]' "exit code $code, expected 2"
check '[ "$(cat "$work/out")" = "$(printf "..port open error\n.exit")" ]' "standard output changed: $(cat -A "$work/out")"
check '[ "$(wc -l <"$work/err")" -eq 1 ]' "standard error is not one line: $(cat "$work/err")"
check 'grep -q "com7" "$work/err"' "the line does not name the device"
check 'grep -qi "permission denied" "$work/err"' "the line does not give the reason"
check 'grep -q "dialout" "$work/err"' "the line does not name the group"
echo "standard error: $(cat "$work/err")"
exit $fail
