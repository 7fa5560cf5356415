#!/usr/bin/env bash
# The app's main queue under load: its longest stall while the device refresh, a scan pairing and
# an export run together, and while the private adb server restarts across a wake and a Wi-Fi
# change, against the idle app (see bench/AppMainQueueBench.cpp). The driver
# makes its own isolated adb world under /tmp and cleans it up. Last line: ratio <number>
# (worst loaded longest stall / idle longest stall); target: every longest stall under 50 ms.
#
#   bench/main_queue_stall.sh <build folder>
set -euo pipefail
build="${1:?usage: main_queue_stall.sh <build folder>}"
driver="$build/bin/bench_app_main_queue"
[ -x "$driver" ] || { echo "missing $driver (build the target bench_app_main_queue)" >&2; exit 1; }
# The offscreen platform warns once per window about size hints it cannot pass on.
QT_QPA_PLATFORM=offscreen "$driver" 2> >(grep -v "does not support propagateSizeHints" >&2)
