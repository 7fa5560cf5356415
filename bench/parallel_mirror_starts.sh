#!/usr/bin/env bash
# Twenty simulated pairs start their mirror windows at the same moment through the wireless
# start path; prints the time until the last window is ready, its ratio to one start measured
# in the same run (target at most 3.0 on 2 cores), and the longest wait of a main-queue registry
# call (target under 20 ms). Last line: "ratio <number>".
#
#   bench/parallel_mirror_starts.sh <build folder> [pairs]
set -euo pipefail
build="${1:?build folder}"
pairs="${2:-20}"
driver="$build/bin/bench_parallel_mirror_starts"
[ -x "$driver" ] || { echo "missing $driver (build the target bench_parallel_mirror_starts with the tests)" >&2; exit 1; }
"$driver" "$pairs"
