#!/usr/bin/env bash
# Route 1 of the Windows Portwire.dll under Wine: KPC_CommunicationTest reaches
# the Linux simulated printer on 127.0.0.131 through the simulated port
# service, staged in the Wine prefix's Program Files (access version 3), and,
# with the service removed, through the simulated driver path found beside the
# program (access version 2).
# Usage: 60-route1.sh NATIVE_BUILD WIN_BUILD
set -uo pipefail
name=60-route1
native="$1"
win="$2"
addr=127.0.0.131
source "$(dirname "$0")/../wine-common.sh"

for f in "$native/bin/kps410-sim" "$win/bin/Portwire.dll" "$win/bin/route1_wine_check.exe" \
         "$win/bin/OrlexPH.dll" "$win/bin/QLXIF.dll" "$win/bin/QLXConfig.dll"; do
  [ -e "$f" ] || fail "missing $f"
done
start_simulator '[ -e "$dir/ready" ]' \
  "$native/bin/kps410-sim" --tcp "$addr" --reset-ms 0 --report "$dir/report" --ready-file "$dir/ready" --quiet

# The port service goes where its installer puts it; only this check's files
# are added to the prefix, and removed again on every way out.
# A 32-bit program's Program Files is "Program Files (x86)".
program_files_win='C:\Program Files'
file -b "$win/bin/Portwire.dll" | grep -q '^PE32+' || program_files_win='C:\Program Files (x86)'
program_files=$(wine winepath -u "$program_files_win" 2>/dev/null | tr -d '\r')
[ -d "$program_files" ] || fail "no Program Files folder in the Wine prefix"
service_dir="$program_files/ORLEX/qlxservice"
[ -e "$service_dir" ] && fail "$service_dir exists already; not touching it"
remove_service() { rm -rf "$program_files/ORLEX"; }
trap 'remove_service; wine_check_cleanup' EXIT
mkdir -p "$service_dir"
cp "$win/bin/QLXIF.dll" "$win/bin/QLXConfig.dll" "$service_dir/"

cp "$win/bin/Portwire.dll" "$win/bin/lnkioapi.dll" "$win/bin/OrlexPH.dll" "$win/bin/route1_wine_check.exe" "$dir/"
echo "port nvmprt_net1 type=NET portname=192.168.7.20 link=tcp:$addr:9100" > "$dir/ports.txt"
export KPSIM_PORTS="Z:$dir/ports.txt"
# With the port service present the library completes a record's service port
# name from its port listing, which looks for network printers by broadcast:
# keep it on the loopback address.
export PORTWIRE_NCS_BROADCAST=$addr

run_wine "$dir/route1_wine_check.exe" 192.168.7.20 3
[ $rc -eq 0 ] || fail "over the port service: exit $rc: $out"
echo "$out" | sed 's/^/  service: /'

remove_service
run_wine "$dir/route1_wine_check.exe" 192.168.7.20 2
[ $rc -eq 0 ] || fail "over the driver path: exit $rc: $out"
echo "$out" | sed 's/^/  driver path: /'
grep -q '^command_count=[1-9]' "$dir/report" || fail "the printer saw nothing: $(cat "$dir/report")"
echo "Portwire.dll under Wine: route 1 reached the simulated printer over the port service and the driver path"
