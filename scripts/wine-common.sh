# Shared by the checks in scripts/wine/: a scratch folder, one background
# simulator that is always stopped, and running a Windows program under Wine.
# Source it after setting `name` (used in messages).

dir=$(mktemp -d)
sim_pid=""
export WINEDEBUG=-all

wine_check_cleanup() {
  stop_simulator
  rm -rf "$dir"
}
trap wine_check_cleanup EXIT

fail() {
  echo "$name: $*"
  exit 1
}

# start_simulator READY_TEST COMMAND...: starts COMMAND in the background and
# waits until the shell test READY_TEST (a string to eval) holds.
start_simulator() {
  local ready="$1"
  shift
  "$@" &
  sim_pid=$!
  for _ in $(seq 100); do
    eval "$ready" && return 0
    kill -0 "$sim_pid" 2>/dev/null || fail "the simulator did not start"
    sleep 0.05
  done
  fail "the simulator is not ready"
}

stop_simulator() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; fi
  sim_pid=""
}

# run_wine PROGRAM ARGS...: sets `out` (line ends as on Linux) and `rc`.
run_wine() {
  out=$(wine "$@" 2>/dev/null)
  rc=$?
  out=$(tr -d '\r' <<<"$out")
}

# fresh_wine_session: ends every Wine program of the prefix and waits for
# them. A check with an X screen of its own calls it first: a Wine desktop left
# from an earlier check is bound to that check's X server, which is gone or
# going, and a new window would be created on it and fail.
fresh_wine_session() {
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  return 0
}
