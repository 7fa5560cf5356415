#!/usr/bin/env bash
# Connecting a reachable simulated pair of glasses: WirelessAdbConnector::tryConnectWirelessAdb
# (port probe, connect beside the state check, wait for the echo) against `adb connect T` +
# `adb -s T shell echo` run back to back by this script, in alternating rounds on one private adb
# server; every run starts disconnected. Prints both medians; the last line is their ratio
# (target: at most 1.1).
#
#   bench/connect.sh <build folder> [rounds] [runs per round]
#
# ORVAN_BENCH_TRACE=1 also prints when each command of the last runs started.
set -euo pipefail
build="${1:?build folder}"
rounds="${2:-5}"
runs="${3:-20}"
driver="$build/bin/bench_wireless_connect"
[ -x "$driver" ] || { echo "missing $driver (build the target bench_wireless_connect)" >&2; exit 1; }
source "$(dirname "${BASH_SOURCE[0]}")/lib/sim-world.bash"

sim_world_start "$build" connect '{"name":"bench"}'
wlan=$(jq -r '.devices[0].wlanAddress' <<<"$sim_ready")
port=$(jq -r '.devices[0].wirelessPort // 5555' <<<"$sim_ready")
target="$wlan:$port"
marker=__ORVAN_MIRROR_ADB_READY__

# The same outcome as the app's connect: the transport exists and answers the echo.
shell_connect() {
  local out
  out=$(adb connect "$target" 2>&1)
  out=$(adb -s "$target" shell echo "$marker" 2>&1)
  [[ "$out" == *"$marker"* ]] || { echo "script connect failed: $out" >&2; exit 1; }
}

: >"$sim_work/ours"
: >"$sim_work/shell"
: >"$sim_work/trace"
for _ in $(seq "$rounds"); do
  "$driver" "$sim_work/tools" "$runs" "$wlan" "$port" 2>>"$sim_work/trace" | awk '{ print $2 }' >>"$sim_work/ours"
  for _ in $(seq "$runs"); do
    adb disconnect "$target" >/dev/null 2>&1
    sim_world_time_into "$sim_work/shell" shell_connect
  done
done

ours=$(sim_world_median <"$sim_work/ours")
shell=$(sim_world_median <"$sim_work/shell")
echo "connecting a reachable simulated pair, $((rounds * runs)) runs each (median):"
echo "  WirelessAdbConnector::tryConnectWirelessAdb     $ours ms"
echo "  adb connect + adb -s T shell echo (script)      $shell ms"
if [ -n "${ORVAN_BENCH_TRACE:-}" ]; then echo "the last runs, when each command started:"; tail -24 "$sim_work/trace"; fi
awk -v a="$ours" -v b="$shell" 'BEGIN { printf "ratio %.3f\n", a / b }'
