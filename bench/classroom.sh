#!/usr/bin/env bash
# A classroom: 20 simulated pairs, each on its own address, post READY for the same enable code
# at once. The time until the 20th pair's acknowledgement reads "RUNNING", against one pair's
# scan to mirror measured in the same runs. Prints both medians; the last line is the median of
# the per-run ratios (target: at most 2.0 on a 2-core machine).
#
#   bench/classroom.sh <build folder> [runs] [pairs]
set -euo pipefail
build="${1:?build folder}"
runs="${2:-3}"
pairs="${3:-20}"
driver="$build/bin/bench_scan_to_mirror"
standin="$(cd "$build" && pwd)/bin/scrcpy-standin"
[ -x "$driver" ] || { echo "missing $driver (build the target bench_scan_to_mirror)" >&2; exit 1; }
[ -x "$standin" ] || { echo "missing $standin (build with the tests)" >&2; exit 1; }
source "$(dirname "${BASH_SOURCE[0]}")/lib/sim-world.bash"

devices=$(jq -cn --argjson n "$pairs" '[range($n) | {name: "pair\(.)", serialNo: "T3CLASS\(.)", media: false}]')
sim_world_start "$build" classroom "$devices"
mapfile -t targets < <(jq -r '.devices[] | "\(.wlanAddress):\(.wirelessPort // 5555)"' <<<"$sim_ready")
private=$(sim_world_free_port)
ln -sf "$standin" "$sim_work/tools/scrcpy"
trap 'adb -P "$private" kill-server >/dev/null 2>&1 || true; sim_world_cleanup' EXIT

unset DISPLAY
export ORVAN_STANDIN_DELAY_MS=200 ORVAN_STANDIN_LOG="$sim_work/standin.jsonl"
"$driver" "$sim_work/tools" "$private" "$runs" "$ORVAN_STANDIN_LOG" "${targets[@]}" >"$sim_work/runs" 2>"${ORVAN_BENCH_TRACE:-/dev/null}"

all=$(awk '{ print $2 }' "$sim_work/runs" | sim_world_median)
one=$(awk '{ print $3 }' "$sim_work/runs" | sim_world_median)
ratio=$(awk '{ print $2 / $3 }' "$sim_work/runs" | sim_world_median)
echo "classroom of ${#targets[@]} simulated pairs, $runs runs (median):"
echo "  all READYs at once to the last RUNNING    $all ms"
echo "  one pair, READY to RUNNING                $one ms"
echo "ratio $ratio"
