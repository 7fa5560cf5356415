#!/usr/bin/env bash
# Scan to mirror: from the READY handed to the scan-session coordinator until the glasses'
# acknowledgement would read "RUNNING" (connect on the private server, readiness, window start,
# shared sync), against the bare sequence measured in the same runs: `adb connect`, one
# `adb shell echo`, and the scrcpy stand-in's own time from start to its readiness line.
# Prints both medians; the last line is the median of the per-run ratios (target: at most 1.15).
#
#   bench/scan_to_mirror.sh <build folder> [runs]
set -euo pipefail
build="${1:?build folder}"
runs="${2:-15}"
driver="$build/bin/bench_scan_to_mirror"
standin="$(cd "$build" && pwd)/bin/scrcpy-standin"
[ -x "$driver" ] || { echo "missing $driver (build the target bench_scan_to_mirror)" >&2; exit 1; }
[ -x "$standin" ] || { echo "missing $standin (build with the tests)" >&2; exit 1; }
source "$(dirname "${BASH_SOURCE[0]}")/lib/sim-world.bash"

sim_world_start "$build" scan-to-mirror '{"name":"bench"}'
wlan=$(jq -r '.devices[0].wlanAddress' <<<"$sim_ready")
port=$(jq -r '.devices[0].wirelessPort // 5555' <<<"$sim_ready")
private=$(sim_world_free_port)
ln -sf "$standin" "$sim_work/tools/scrcpy"
trap 'adb -P "$private" kill-server >/dev/null 2>&1 || true; sim_world_cleanup' EXIT

unset DISPLAY  # the start rests on the readiness line, as on a machine without X11
export ORVAN_STANDIN_DELAY_MS=200 ORVAN_STANDIN_LOG="$sim_work/standin.jsonl"
"$driver" "$sim_work/tools" "$private" "$runs" "$ORVAN_STANDIN_LOG" "$wlan:$port" >"$sim_work/runs"

scan=$(awk '{ print $2 }' "$sim_work/runs" | sim_world_median)
bare=$(awk '{ print $3 }' "$sim_work/runs" | sim_world_median)
ratio=$(awk '{ print $2 / $3 }' "$sim_work/runs" | sim_world_median)
echo "scan to mirror of one simulated pair, $runs runs (median):"
echo "  READY to acknowledgement RUNNING                 $scan ms"
echo "  adb connect + shell echo + stand-in readiness    $bare ms"
echo "ratio $ratio"
