#!/usr/bin/env bash
# Starting a mirror window for a verified, answering simulated pair:
# MirrorOrchestrator::startVerifiedWirelessMirror from call to return, against the window
# process's own time from its start to its readiness line (the scrcpy stand-in, told to signal
# 200 ms after it starts), measured in the same runs. Prints both medians and their ratio
# (target: at most 1.15).
#
#   bench/mirror_start.sh <build folder> [runs]
set -euo pipefail
build="${1:?build folder}"
runs="${2:-30}"
driver="$build/bin/bench_mirror_start"
standin="$(cd "$build" && pwd)/bin/scrcpy-standin"
[ -x "$driver" ] || { echo "missing $driver (build the target bench_mirror_start)" >&2; exit 1; }
[ -x "$standin" ] || { echo "missing $standin (build with the tests)" >&2; exit 1; }
source "$(dirname "${BASH_SOURCE[0]}")/lib/sim-world.bash"

sim_world_start "$build" mirror-start '{"name":"bench"}'
wlan=$(jq -r '.devices[0].wlanAddress' <<<"$sim_ready")
port=$(jq -r '.devices[0].wirelessPort // 5555' <<<"$sim_ready")
target="$wlan:$port"
adb connect "$target" >/dev/null
ln -sf "$standin" "$sim_work/tools/scrcpy"

unset DISPLAY  # the start rests on the readiness line, as on a machine without X11
export ORVAN_STANDIN_DELAY_MS=200 ORVAN_STANDIN_LOG="$sim_work/standin.jsonl"
"$driver" "$sim_work/tools" "$runs" "$target" "$ORVAN_STANDIN_LOG" >"$sim_work/runs"

ours=$(awk '{ print $2 }' "$sim_work/runs" | sim_world_median)
standin_ms=$(awk '{ print $3 }' "$sim_work/runs" | sim_world_median)
ratio=$(awk '{ print $2 / $3 }' "$sim_work/runs" | sim_world_median)
echo "starting a mirror window of an answering simulated pair, $runs runs (median):"
echo "  startVerifiedWirelessMirror, call to return    $ours ms"
echo "  stand-in, process start to readiness line      $standin_ms ms"
awk -v a="$ours" -v b="$standin_ms" -v r="$ratio" \
  'BEGIN { printf "  ratio of medians  %.3f, median of per-run ratios  %.3f (target <= 1.15)\n", a / b, r }'
