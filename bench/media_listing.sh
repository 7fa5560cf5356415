#!/usr/bin/env bash
# Listing a folder of 5,000 photos on the simulated glasses: MediaBrowser::loadDirectory (adb
# ls -la, lossy decoding, parsing, natural sort) against a bare `adb shell ls -la` of the same
# folder, in alternating rounds. Prints the medians and, last, the time ratio ours / bare
# (target < 2).
#
#   bench/media_listing.sh <build folder> [rounds] [runs per round]
set -euo pipefail
build="${1:?usage: media_listing.sh <build folder> [rounds] [runs per round]}"
rounds="${2:-5}"
runs="${3:-10}"
driver="$build/bin/bench_media"
[ -x "$driver" ] || { echo "missing $driver (build the targets bench_media and glasses-sim)" >&2; exit 1; }
source "$(dirname "${BASH_SOURCE[0]}")/lib/sim-world.bash"

sim_world_start "$build" listing '{"name":"g","media":true,"bulkCount":5000}'
serial="$(jq -r '.devices[0].wlanAddress' <<<"$sim_ready"):5555"
adb connect "$serial" >/dev/null
adb -s "$serial" wait-for-device
bare_listing() { adb -s "$serial" shell ls -la "'/sdcard/DCIM/Bulk/'" >/dev/null; }

: >"$sim_work/ours"
: >"$sim_work/bare"
for _ in $(seq "$rounds"); do
  "$driver" list "$sim_work/tools" "$serial" /sdcard/DCIM/Bulk "$runs" >"$sim_work/round"
  grep -q ' 5000$' "$sim_work/round" || { echo "the listing did not hold 5000 photos" >&2; exit 1; }
  awk '{ print $2 }' "$sim_work/round" >>"$sim_work/ours"
  for _ in $(seq "$runs"); do sim_world_time_into "$sim_work/bare" bare_listing; done
done

ours=$(sim_world_median <"$sim_work/ours")
bare=$(sim_world_median <"$sim_work/bare")
echo "folder of 5000 photos, $((rounds * runs)) runs each (median):"
echo "  MediaBrowser::loadDirectory (list, parse, sort)  $ours ms"
echo "  bare adb shell ls -la                            $bare ms"
awk -v a="$ours" -v b="$bare" 'BEGIN { printf "ratio %.3f\n", a / b }'
