#!/usr/bin/env bash
# Checks the generated manual: it renders page by page, holds every chapter a
# technician needs and carries the front end's screenshots as real images.
#   manual_check.sh <Manual.pdf> <work folder>
set -euo pipefail
pdf=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
fail() { echo "Manual.pdf: $*" >&2; exit 1; }

pages=$(pdfinfo "$pdf" | awk '/^Pages:/ {print $2}')
[ "${pages:-0}" -ge 4 ] || fail "only ${pages:-0} pages"

# Every page renders to a picture with something on it.
pdftoppm -r 40 -png "$pdf" "$work/page"
rendered=$(ls "$work"/page-*.png | wc -l)
[ "$rendered" -eq "$pages" ] || fail "$rendered of $pages pages rendered"
for png in "$work"/page-*.png; do
  [ "$(stat -c %s "$png")" -gt 2000 ] || fail "$(basename "$png") is empty"
done

pdftotext "$pdf" - | tr -s " \n\f" "   " > "$work/text.txt"
for heading in "What the tool does" "Installing" "Connecting the printer" "Serial port (COM)" \
               "Parallel port (LPT)" "USB" "Network (Ethernet)" "Bluetooth" \
               "Adjusting with the front end, step by step" "The console program Trimsense" \
               "Messages and what to check" "Linux: port numbers and permissions"; do
  grep -qF "$heading" "$work/text.txt" || fail "no section \"$heading\""
done
# Options, exit codes, failure texts and port numbering are all there.
for text in "-cB" "-uC" "-tC" "port open error" "Othre Model" "A communication error occurred." \
            "reconnect timeout." "/dev/ttyUSB0" "dialout" "70-trimsense.rules"; do
  grep -qF -- "$text" "$work/text.txt" || fail "no mention of \"$text\""
done

# The two screenshots are embedded as images of their real size.
pdfimages -list "$pdf" > "$work/images.txt"
images=$(awk 'NR > 2 && $3 == "image"' "$work/images.txt" | wc -l)
[ "$images" -ge 2 ] || fail "$images screenshots embedded"
echo "Manual.pdf: $pages pages, $images images, all sections present"
