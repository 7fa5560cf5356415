#!/usr/bin/env bash
# Full discovery of one USB and one wireless simulated pair: DeviceDiscovery::detectAdbDevices
# against the same ten adb commands run back to back by this script, in alternating rounds on
# one private adb server. Prints both medians and their ratio (target: at most 1.2).
#
#   bench/discovery.sh <build folder> [rounds] [runs per round]
set -euo pipefail
build="${1:?build folder}"
rounds="${2:-5}"
runs="${3:-20}"
sim="$build/bin/glasses-sim"
driver="$build/bin/bench_device_discovery"
for program in "$sim" "$driver"; do
  [ -x "$program" ] || { echo "missing $program (build the targets glasses-sim and bench_device_discovery)" >&2; exit 1; }
done
adb=$(command -v adb)

work=$(mktemp -d /tmp/orvan-bench-discovery-XXXXXX)
sim_pid=""
cleanup() {
  adb kill-server >/dev/null 2>&1 || true
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  exec 9>&- 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Our own adb server on a free port, our own HOME (adb keys), no emulator scan.
free_port() {
  local port
  for _ in $(seq 100); do
    port=$((20000 + RANDOM % 20000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then echo "$port"; return; fi
  done
  echo "no free port" >&2; exit 1
}
export HOME="$work/home" ANDROID_ADB_SERVER_PORT=$(free_port) ADB_EMU=0
mkdir -p "$HOME" "$work/tools"
ln -s "$adb" "$work/tools/adb"
touch "$work/tools/scrcpy"
adb start-server >/dev/null 2>&1

# The simulator ends when its standard input closes, so it cannot outlive this script.
mkfifo "$work/control"
"$sim" --device '{"name":"bench","usb":true}' <"$work/control" >"$work/sim.out" 2>&1 &
sim_pid=$!
exec 9>"$work/control"
for _ in $(seq 100); do grep -q '^ready' "$work/sim.out" && break; sleep 0.05; done
ready=$(sed -n 's/^ready //p' "$work/sim.out")
[ -n "$ready" ] || { cat "$work/sim.out" >&2; exit 1; }
usb_port=$(jq -r '.devices[0].usbPort' <<<"$ready")
wlan=$(jq -r '.devices[0].wlanAddress' <<<"$ready")
usb="emulator-$((usb_port + 1))"
wireless="$wlan:5555"
adb connect "emu:$((usb_port + 1)),$usb_port" >/dev/null
adb connect "$wireless" >/dev/null
for _ in $(seq 100); do
  [ "$(adb devices | grep -c $'\tdevice$')" = 2 ] && break
  sleep 0.05
done

marker=__ORVAN_MIRROR_ADB_READY__
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

time_into() {
  local file=$1 start end
  shift
  start=$EPOCHREALTIME
  "$@"
  end=$EPOCHREALTIME
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f\n", (e - s) * 1000 }' >>"$file"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

: >"$work/ours"
: >"$work/shell"
: >"$work/discarding"
for _ in $(seq "$rounds"); do
  "$driver" "$work/tools" "$runs" "$usb" "$wireless" | awk '{ print $2 }' >>"$work/ours"
  for _ in $(seq "$runs"); do time_into "$work/shell" shell_discovery; done
  for _ in $(seq "$runs"); do time_into "$work/discarding" shell_discovery_discarding; done
done

ours=$(median <"$work/ours")
shell=$(median <"$work/shell")
discarding=$(median <"$work/discarding")
echo "full discovery, 1 USB + 1 wireless pair, $((rounds * runs)) runs each (median):"
echo "  DeviceDiscovery::detectAdbDevices               $ours ms"
echo "  same 10 adb commands, script capturing output   $shell ms"
echo "  same 10 adb commands, script discarding output  $discarding ms"
awk -v a="$ours" -v b="$shell" 'BEGIN { printf "  ratio to the capturing script  %.3f (target <= 1.2)\n", a / b }'
awk -v a="$ours" -v b="$discarding" 'BEGIN { printf "  ratio to the discarding script %.3f\n", a / b }'
