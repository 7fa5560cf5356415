#!/usr/bin/env bash
# The real scrcpy clients mirroring a simulated pair, no app involved. For each client, the
# median over the runs of the time from the client's start to its texture line (the device
# meta was read and the window created, hidden) and to its window being mapped (the first
# frame was decoded); then the simulator's CPU while it mirrors one pair for 10 s.
#
#   bench/real_scrcpy_rig.sh <build folder> [runs]
set -euo pipefail
build="${1:?build folder}"
runs="${2:-5}"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
clients="$here/build-scrcpy-clients"
"$here/tests/support/build-real-scrcpy" "$here/../shared/vendor" "$clients" >/dev/null
ls "$clients"/*/scrcpy >/dev/null 2>&1 || { echo "real_scrcpy_rig: no real clients, skipped"; exit 0; }
source "$(dirname "${BASH_SOURCE[0]}")/lib/sim-world.bash"

xvfb_pid=""
cleanup() {
  [ -n "$xvfb_pid" ] && { kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; }
  sim_world_cleanup
}
sim_world_start "$build" real-scrcpy '{"name":"bench","media":false}'
trap cleanup EXIT
target="$(jq -r '.devices[0].wlanAddress' <<<"$sim_ready"):$(jq -r '.devices[0].wirelessPort' <<<"$sim_ready")"
adb connect "$target" >/dev/null
echo "a server file" >"$sim_work/server.jar"

Xvfb -displayfd 8 -screen 0 1024x768x24 -nolisten tcp -noreset 8>"$sim_work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 200); do [ -s "$sim_work/display" ] && break; sleep 0.02; done
export DISPLAY=":$(head -n 1 "$sim_work/display")"

ms_since() { awk -v s="$1" -v e="$2" 'BEGIN { printf "%.0f\n", (e - s) * 1000 }'; }

# One run: starts the client, waits for its texture line and its mapped window, and leaves
# it running as $client_pid.
run_client() {  # program version title
  local extra=(--no-audio) log="$sim_work/client.log" start texture="" window=""
  [[ $2 == 1.* ]] && extra=()
  : >"$log"
  start=$EPOCHREALTIME
  SCRCPY_SERVER_PATH="$sim_work/server.jar" SCRCPY_ICON_PATH="$(dirname "$1")/icon.png" \
    stdbuf -oL "$1" -s "$target" --window-title="$3" --port="$(sim_world_free_port)" "${extra[@]}" >"$log" 2>&1 &
  client_pid=$!
  while [ -z "$window" ] && kill -0 "$client_pid" 2>/dev/null; do
    [ -z "$texture" ] && grep -q 'exture: ' "$log" && texture=$EPOCHREALTIME
    xdotool search --onlyvisible --name "^$3\$" >/dev/null 2>&1 && window=$EPOCHREALTIME
  done
  [ -n "$window" ] || { cat "$log" >&2; exit 1; }
  echo "$(ms_since "$start" "${texture:-$window}") $(ms_since "$start" "$window")"
}

stop_client() { kill "$client_pid" 2>/dev/null || true; wait "$client_pid" 2>/dev/null || true; }

for program in "$clients"/*/scrcpy; do
  version=$(basename "$(dirname "$program")")
  : >"$sim_work/times"
  for i in $(seq "$runs"); do
    run_client "$program" "$version" "bench-$i" >>"$sim_work/times"
    stop_client
  done
  texture=$(awk '{ print $1 }' "$sim_work/times" | sim_world_median)
  window=$(awk '{ print $2 }' "$sim_work/times" | sim_world_median)
  echo "scrcpy $version: start -> texture line ${texture} ms, -> window mapped (first frame decoded) ${window} ms (median of $runs)"
done

# The simulator's CPU for one mirrored pair: utime + stime of the process over 10 s.
ticks() { awk '{ print $14 + $15 }' "/proc/$sim_pid/stat"; }
run_client "$program" "$version" "bench-cpu" >/dev/null
before=$(ticks)
sleep 10
after=$(ticks)
stop_client
awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" -v v="$version" \
  'BEGIN { printf "glasses-sim CPU mirroring one pair to scrcpy %s: %.1f%% of one core (%.2f s in 10 s)\n", v, t / hz * 10, t / hz }'
