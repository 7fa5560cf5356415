#!/usr/bin/env bash
# 2,000 callbacks of made-up sessions (8 senders, a 2 KB message each) against the callback
# server and the scan coordinator, while the active session's acknowledgement queries run.
# Prints the activity log's growth and the acknowledgement latency alone (the baseline) and
# meanwhile; last line: ratio <max latency meanwhile / max latency alone>.
# Usage: bench/foreign_callbacks.sh <build folder> [callbacks] [senders]
set -euo pipefail
build=${1:?usage: foreign_callbacks.sh <build folder> [callbacks] [senders]}
bench="$build/bin/bench_foreign_callbacks"
[ -x "$bench" ] || { echo "missing $bench (cmake --build $build --target bench_foreign_callbacks)" >&2; exit 1; }
exec "$bench" "${2:-2000}" "${3:-8}"
