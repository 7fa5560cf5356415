#!/usr/bin/env bash
# A mirror coming back by itself: a supervised mirror of a simulated pair whose glasses refuse
# connections and drop their transport for 1.5 to 4.5 s; from the moment the pair answers again
# to the supervisor's "running again", against a fresh start of the same pair in the same runs
# (the private-server connect and the scan path's window start, the steps a recovery repeats).
# Prints both medians; the last line is the median of the per-run ratios (target: at most 1.2).
#
#   bench/mirror_recovery.sh <build folder> [runs]
set -euo pipefail
build="${1:?build folder}"
runs="${2:-10}"
driver="$build/bin/bench_mirror_recovery"
standin="$(cd "$build" && pwd)/bin/scrcpy-standin"
[ -x "$driver" ] || { echo "missing $driver (build the target bench_mirror_recovery)" >&2; exit 1; }
[ -x "$standin" ] || { echo "missing $standin (build with the tests)" >&2; exit 1; }
source "$(dirname "${BASH_SOURCE[0]}")/lib/sim-world.bash"

sim_world_start "$build" mirror-recovery '{"name":"bench","media":false}'
wlan=$(jq -r '.devices[0].wlanAddress' <<<"$sim_ready")
port=$(jq -r '.devices[0].wirelessPort // 5555' <<<"$sim_ready")
private=$(sim_world_free_port)
ln -sf "$standin" "$sim_work/tools/scrcpy"
trap 'adb -P "$private" kill-server >/dev/null 2>&1 || true; sim_world_cleanup' EXIT

unset DISPLAY  # the start rests on the readiness line, as on a machine without X11
# The window notices its glasses going away as a real client does, by its transport failing.
export ORVAN_STANDIN_DELAY_MS=200 ORVAN_STANDIN_WATCH_MS=100
"$driver" "$sim_work/tools" "$private" "$runs" "$sim_work/control" bench "$wlan:$port" >"$sim_work/runs" 2>"$sim_work/log" \
  || { tail -n 40 "$sim_work/log" >&2; exit 1; }
[ -z "${ORVAN_BENCH_LOG:-}" ] || cp "$sim_work/log" "$ORVAN_BENCH_LOG"

back=$(awk '{ print $2 }' "$sim_work/runs" | sim_world_median)
fresh=$(awk '{ print $3 }' "$sim_work/runs" | sim_world_median)
ratio=$(awk '{ print $2 / $3 }' "$sim_work/runs" | sim_world_median)
echo "a supervised mirror of one simulated pair, $runs runs (median):"
echo "  the pair answering again to the mirror running    $back ms"
echo "  a fresh start of the same pair                    $fresh ms"
echo "ratio $ratio"
