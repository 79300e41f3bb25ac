#!/usr/bin/env bash
# Runs bluetooth_dbusmock (the test program, $1) under umockdev-wrapper against
# a private system bus: without BlueZ, with BlueZ (python3-dbusmock's bluez5
# template) but no adapter, and with paired devices. Exits 77 (skipped) when a
# tool is missing.
set -uo pipefail
program="$1"
python=/usr/bin/python3
for tool in dbus-daemon gdbus umockdev-wrapper "$python"; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool missing"; exit 77; }
done
"$python" -c "import dbusmock" 2>/dev/null || { echo "skipped: python3-dbusmock missing"; exit 77; }

dir=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -CONT "$p" 2>/dev/null; kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  rm -rf "$dir"
}
trap cleanup EXIT
fail() { echo "bluetooth_dbusmock: $*"; exit 1; }

# A private bus: never --fork (nothing would reap it).
dbus-daemon --session --nofork --print-address=3 3>"$dir/addr" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$dir/addr" ] && break; sleep 0.05; done
[ -s "$dir/addr" ] || fail "no private bus"
export DBUS_SYSTEM_BUS_ADDRESS=$(head -n1 "$dir/addr")

stage() {
  PORTWIRE_TEST_BT_STAGE="$1" umockdev-wrapper "$program" || fail "stage $1 failed"
}
bluez() { gdbus call --system --dest org.bluez "$@" >/dev/null || fail "gdbus $*"; }

stage absent

"$python" -m dbusmock --system --template bluez5 >"$dir/mock.log" 2>&1 &
mock=$!
pids+=($mock)
for _ in $(seq 200); do
  gdbus call --system --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.NameHasOwner org.bluez 2>/dev/null | grep -q true && break
  sleep 0.05
done
stage noadapter

bluez --object-path / --method org.bluez.Mock.AddAdapter hci0 host
bluez --object-path / --method org.bluez.Mock.AddDevice hci0 00:11:22:AA:BB:CC "KP-S410 BT"
bluez --object-path / --method org.bluez.Mock.PairDevice hci0 00:11:22:AA:BB:CC 1664
bluez --object-path / --method org.bluez.Mock.AddDevice hci0 00:11:22:33:44:55 "Phone"
bluez --object-path / --method org.bluez.Mock.PairDevice hci0 00:11:22:33:44:55 5898764
bluez --object-path / --method org.bluez.Mock.AddDevice hci0 66:77:88:99:AA:BB "Not paired"
stage paired

# A hung daemon: BlueZ keeps its name on the bus but answers nothing.
kill -STOP "$mock"
stage hung
kill -CONT "$mock"
echo "Bluetooth listing: BlueZ absent, without adapter, with paired devices, and hung, as expected"
