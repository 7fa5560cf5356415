#!/usr/bin/env bash
# Exporting 1 GB of videos (8 files of 128 MiB) from the simulated glasses with
# MediaExporter::exportSelectedMedia, against one plain `adb pull` of the same files, in
# alternating runs. Prints the medians and, last, the throughput ratio export / plain pull
# (target >= 0.9).
#
#   bench/export_throughput.sh <build folder> [runs]
set -euo pipefail
build="${1:?usage: export_throughput.sh <build folder> [runs]}"
runs="${2:-3}"
driver="$build/bin/bench_media"
[ -x "$driver" ] || { echo "missing $driver (build the targets bench_media and glasses-sim)" >&2; exit 1; }
source "$(dirname "${BASH_SOURCE[0]}")/lib/sim-world.bash"

files=8
size=$((128 << 20))
sim_world_start "$build" export '{"name":"g","media":false}'
serial="$(jq -r '.devices[0].wlanAddress' <<<"$sim_ready"):5555"
remote=/sdcard/DCIM/Export
for i in $(seq "$files"); do echo "mkfile g $remote/VID_$i.mp4 $size" >&9; done
for _ in $(seq 600); do [ "$(grep -c '^ok {"hostPath"' "$sim_work/sim.out")" -ge "$files" ] && break; sleep 0.1; done
[ "$(grep -c '^ok {"hostPath"' "$sim_work/sim.out")" -ge "$files" ] || { echo "the simulator did not make the files" >&2; exit 1; }
adb connect "$serial" >/dev/null
adb -s "$serial" wait-for-device

sources=()
for i in $(seq "$files"); do sources+=("$remote/VID_$i.mp4"); done
: >"$sim_work/plain"
: >"$sim_work/ours"
for _ in $(seq "$runs"); do
  mkdir "$sim_work/plain-out"
  sim_world_time_into "$sim_work/plain" adb -s "$serial" pull "${sources[@]}" "$sim_work/plain-out" >/dev/null
  [ "$(ls "$sim_work/plain-out" | wc -l)" = "$files" ] || { echo "plain pull incomplete" >&2; exit 1; }
  rm -rf "$sim_work/plain-out"
  mkdir "$sim_work/ours-out"
  "$driver" export "$sim_work/tools" "$serial" "$remote" "$sim_work/ours-out" | awk '{ print $2 }' >>"$sim_work/ours"
  rm -rf "$sim_work/ours-out"
done

plain=$(sim_world_median <"$sim_work/plain")
ours=$(sim_world_median <"$sim_work/ours")
total=$((files * size))
echo "1 GiB ($files files of 128 MiB) from glasses-sim, median of $runs runs:"
awk -v t="$total" -v ms="$plain" 'BEGIN { printf "  plain adb pull of the files       %8.1f ms  %6.1f MB/s\n", ms, t / ms / 1e3 }'
awk -v t="$total" -v ms="$ours" 'BEGIN { printf "  MediaExporter::exportSelectedMedia %7.1f ms  %6.1f MB/s (target >= 0.9 x)\n", ms, t / ms / 1e3 }'
awk -v a="$plain" -v b="$ours" 'BEGIN { printf "ratio %.3f\n", a / b }'
