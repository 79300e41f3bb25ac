#!/usr/bin/env bash
# The network search of the Windows Portwire.dll on every interface, under
# Wine: a client namespace with two veth links and no route beyond their
# subnets, a simulated printer interface behind each in a namespace of its
# own; portwire-ports.exe --net must list both. Needs the right to create
# network namespaces (root); skipped elsewhere. Nothing leaves the namespaces:
# Wine's sockets are made by its wineserver, so the check ends every Wine
# program of the prefix first, starts the wineserver inside the client
# namespace, and goes on only when Wine sees the test's addresses alone.
# Usage: 35-ncs-interfaces.sh NATIVE_BUILD WIN_BUILD
set -uo pipefail
name=35-ncs-interfaces
native="$1"
win="$2"
source "$(dirname "$0")/../wine-common.sh"

for f in "$native/bin/netif-sim" "$win/bin/Portwire.dll" "$win/bin/lnkioapi.dll" "$win/bin/portwire-ports.exe"; do
  [ -e "$f" ] || fail "missing $f"
done
tag=$$
cli=ncsw-cli-$tag pa=ncsw-pa-$tag pb=ncsw-pb-$tag
if ! ip netns add "$cli" 2>/dev/null; then
  echo "$name: network namespaces are not permitted here, skipped"
  exit 0
fi
sims=()
restart_server=""
netns_cleanup() {
  for p in "${sims[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  ip netns exec "$cli" wineserver -k 2>/dev/null
  ip netns exec "$cli" wineserver -w 2>/dev/null
  for n in "$cli" "$pa" "$pb"; do ip netns del "$n" 2>/dev/null; done
  # The later checks find a persistent wineserver again, as the test command left it.
  [ -n "$restart_server" ] && wineserver -p 2>/dev/null
  wine_check_cleanup
}
trap netns_cleanup EXIT
set -e
ip netns add "$pa"
ip netns add "$pb"
for n in "$cli" "$pa" "$pb"; do ip -n "$n" link set lo up; done
ip -n "$pa" link add nwa$tag type veth peer name nwca$tag netns "$cli"
ip -n "$pb" link add nwb$tag type veth peer name nwcb$tag netns "$cli"
ip -n "$pa" addr add 10.213.10.2/24 brd + dev nwa$tag
ip -n "$pb" addr add 10.213.11.2/24 brd + dev nwb$tag
ip -n "$cli" addr add 10.213.10.1/24 brd + dev nwca$tag
ip -n "$cli" addr add 10.213.11.1/24 brd + dev nwcb$tag
ip -n "$pa" link set nwa$tag up
ip -n "$pb" link set nwb$tag up
ip -n "$cli" link set nwca$tag up
ip -n "$cli" link set nwcb$tag up
set +e
for peer in "$pa 0a" "$pb 0b"; do
  set -- $peer
  ip netns exec "$1" "$native/bin/netif-sim" --bind-any --reuse --mac 00:11:62:00:00:$2 --lifetime 60 \
    >"$dir/sim-$2.out" 2>&1 &
  sims+=($!)
done
for _ in $(seq 100); do
  grep -q '^ready$' "$dir/sim-0a.out" 2>/dev/null && grep -q '^ready$' "$dir/sim-0b.out" 2>/dev/null && break
  sleep 0.05
done

# A wineserver of this prefix outside the namespace would make the sockets
# there: end it, start one inside, and check what Wine sees.
restart_server=1
fresh_wine_session
ip netns exec "$cli" wineserver -p 2>/dev/null
seen=$(ip netns exec "$cli" wine ipconfig 2>/dev/null | tr -d '\r' | sed -n 's/.*IPv4 address[ .]*: *//p' | sort | tr '\n' ' ')
[ "$seen" = "10.213.10.1 10.213.11.1 127.0.0.1 " ] || fail "Wine does not see the namespace's addresses alone: $seen"

cp "$win/bin/Portwire.dll" "$win/bin/lnkioapi.dll" "$win/bin/portwire-ports.exe" "$dir/"
out=$(ip netns exec "$cli" wine "$dir/portwire-ports.exe" --net 2>/dev/null | tr -d '\r')
rc=$?
[ $rc -eq 0 ] || fail "portwire-ports.exe --net ended with $rc: $out"
for a in 10.213.10.2 10.213.11.2; do
  echo "$out" | grep -q "^-n$a " || fail "the printer at $a behind its own interface was not found: $out"
done
echo "Portwire.dll under Wine finds the printers behind both interfaces (no default route)"
