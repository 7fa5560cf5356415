#!/usr/bin/env bash
# Full discovery of one USB and one wireless simulated pair: DeviceDiscovery::detectAdbDevices
# against the same ten adb commands run back to back by this script, in alternating rounds on
# one private adb server. Prints the medians and the ratios (target: at most 1.2).
#
#   bench/discovery.sh <build folder> [rounds] [runs per round]
set -euo pipefail
build="${1:?build folder}"
rounds="${2:-5}"
runs="${3:-20}"
driver="$build/bin/bench_device_discovery"
[ -x "$driver" ] || { echo "missing $driver (build the target bench_device_discovery)" >&2; exit 1; }
source "$(dirname "${BASH_SOURCE[0]}")/lib/sim-world.bash"

sim_world_start "$build" discovery '{"name":"bench","usb":true}'
usb_port=$(jq -r '.devices[0].usbPort' <<<"$sim_ready")
wlan=$(jq -r '.devices[0].wlanAddress' <<<"$sim_ready")
usb="emulator-$((usb_port + 1))"
wireless="$wlan:5555"
adb connect "emu:$((usb_port + 1)),$usb_port" >/dev/null
adb connect "$wireless" >/dev/null
for _ in $(seq 100); do
  [ "$(adb devices | grep -c $'\tdevice$')" = 2 ] && break
  sleep 0.05
done

marker=__ORVAN_MIRROR_ADB_READY__
# What the app does, each output captured as the app captures it.
shell_discovery() {
  local out
  out=$(adb devices 2>&1)
  out=$(adb -s "$wireless" get-state 2>&1)
  out=$(adb -s "$wireless" shell echo "$marker" 2>&1)
  out=$(adb -s "$usb" shell getprop ro.product.model 2>&1)
  out=$(adb -s "$usb" shell getprop ro.serialno 2>&1)
  out=$(adb -s "$usb" shell ip addr show wlan0 2>&1)
  out=$(adb -s "$usb" shell cmd wifi status 2>&1)
  out=$(adb -s "$wireless" shell getprop ro.product.model 2>&1)
  out=$(adb -s "$wireless" shell getprop ro.serialno 2>&1)
  out=$(adb -s "$wireless" shell cmd wifi status 2>&1)
  : "$out"
}

# The cheapest a script can be: no capture at all, every output thrown away.
shell_discovery_discarding() {
  {
    adb devices
    adb -s "$wireless" get-state
    adb -s "$wireless" shell echo "$marker"
    adb -s "$usb" shell getprop ro.product.model
    adb -s "$usb" shell getprop ro.serialno
    adb -s "$usb" shell ip addr show wlan0
    adb -s "$usb" shell cmd wifi status
    adb -s "$wireless" shell getprop ro.product.model
    adb -s "$wireless" shell getprop ro.serialno
    adb -s "$wireless" shell cmd wifi status
  } >/dev/null 2>&1
}

: >"$sim_work/ours"
: >"$sim_work/shell"
: >"$sim_work/discarding"
for _ in $(seq "$rounds"); do
  "$driver" "$sim_work/tools" "$runs" "$usb" "$wireless" | awk '{ print $2 }' >>"$sim_work/ours"
  for _ in $(seq "$runs"); do sim_world_time_into "$sim_work/shell" shell_discovery; done
  for _ in $(seq "$runs"); do sim_world_time_into "$sim_work/discarding" shell_discovery_discarding; done
done

ours=$(sim_world_median <"$sim_work/ours")
shell=$(sim_world_median <"$sim_work/shell")
discarding=$(sim_world_median <"$sim_work/discarding")
echo "full discovery, 1 USB + 1 wireless pair, $((rounds * runs)) runs each (median):"
echo "  DeviceDiscovery::detectAdbDevices               $ours ms"
echo "  same 10 adb commands, script capturing output   $shell ms"
echo "  same 10 adb commands, script discarding output  $discarding ms"
awk -v a="$ours" -v b="$shell" 'BEGIN { printf "  ratio to the capturing script  %.3f (target <= 1.2)\n", a / b }'
awk -v a="$ours" -v b="$discarding" 'BEGIN { printf "  ratio to the discarding script %.3f\n", a / b }'
