#!/usr/bin/env bash
# adb pull of a 100 MB file from the simulated glasses, against reading (and copying) the same
# file locally. Usage: bench/sim_pull.sh <build folder> [runs]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build=${1:?usage: sim_pull.sh <build folder> [runs]}
runs=${2:-5}
size=100000000
# shellcheck source=lib/sim-world.bash
source "$here/lib/sim-world.bash"
sim_world_start "$build" pull '{"name":"g","media":false}'
address=$(jq -r '.devices[0].wlanAddress' <<<"$sim_ready")

echo "mkfile g /sdcard/big.bin $size" >&9
for _ in $(seq 200); do grep -q '^ok {"hostPath"' "$sim_work/sim.out" && break; sleep 0.05; done
file=$(sed -n 's/^ok {"hostPath":"\(.*\)"}$/\1/p' "$sim_work/sim.out")
[ -f "$file" ] || { echo "the simulator did not create the file" >&2; exit 1; }
adb connect "$address:5555" >/dev/null
adb -s "$address:5555" wait-for-device

seconds() { awk -v s="$1" -v e="$2" 'BEGIN { printf "%.4f\n", e - s }'; }
cat "$file" >/dev/null  # warm the page cache: both sides read from memory
for run in $(seq "$runs"); do
  start=$EPOCHREALTIME; cat "$file" >/dev/null; end=$EPOCHREALTIME
  seconds "$start" "$end" >>"$sim_work/read"
  start=$EPOCHREALTIME; cp "$file" "$sim_work/copy.bin"; end=$EPOCHREALTIME
  seconds "$start" "$end" >>"$sim_work/copy"
  rm -f "$sim_work/copy.bin"
  start=$EPOCHREALTIME
  adb -s "$address:5555" pull /sdcard/big.bin "$sim_work/pulled.bin" >/dev/null
  end=$EPOCHREALTIME
  seconds "$start" "$end" >>"$sim_work/pull"
  cmp -s "$file" "$sim_work/pulled.bin" || { echo "run $run: pulled bytes differ" >&2; exit 1; }
  rm -f "$sim_work/pulled.bin"
done

read_s=$(sim_world_median <"$sim_work/read")
copy_s=$(sim_world_median <"$sim_work/copy")
pull_s=$(sim_world_median <"$sim_work/pull")
awk -v n="$size" -v r="$read_s" -v c="$copy_s" -v p="$pull_s" -v runs="$runs" 'BEGIN {
  printf "100 MB, median of %d runs (MB = 10^6 bytes)\n", runs
  printf "  local read (cat > /dev/null): %7.1f MB/s\n", n / r / 1e6
  printf "  local copy (cp):              %7.1f MB/s\n", n / c / 1e6
  printf "  adb pull from glasses-sim:    %7.1f MB/s (target >= 100)\n", n / p / 1e6
  printf "  pull / local read = %.2f, pull / local copy = %.2f\n", r / p, c / p
}'
