#!/usr/bin/env bash
# 20 simulated pairs with 4 concurrent `adb shell echo` streams each (and, for comparison, one
# stream per pair). Usage: bench/sim_shell_latency.sh <build folder>
set -euo pipefail
build=${1:?usage: sim_shell_latency.sh <build folder>}
bench="$build/bin/bench_sim_shell_latency"
[ -x "$bench" ] || { echo "missing $bench (build with tests and benchmarks on)" >&2; exit 1; }
"$bench" 20 4 25 2>/dev/null
"$bench" 20 1 25 2>/dev/null | tail -n 4
