#!/usr/bin/env bash
# Starting a mirror with the real scrcpy 3.3.4 client against a simulated pair, under a private
# X server: through the app (MirrorOrchestrator::startVerifiedWirelessMirror, request to ready
# mirror) against the same client started by this script and waited for by its window, in the
# same run and alternating. Also reports the app's time to the client's window (its first frame).
#
#   bench/real_mirror_start.sh <build folder> [runs]     last line: ratio <app ready / client window>
set -euo pipefail
build="$(cd "${1:?build folder}" && pwd)"
runs="${2:-10}"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
driver="$build/bin/bench_real_mirror_start"
client="${ORVAN_REAL_SCRCPY:-$here/build-scrcpy-clients/3.3.4/scrcpy}"
[ -x "$driver" ] || { echo "missing $driver (build the target bench_real_mirror_start)" >&2; exit 1; }
[ -x "$client" ] || { echo "missing $client (build the target real_scrcpy_clients)" >&2; exit 1; }
source "$here/bench/lib/sim-world.bash"

sim_world_start "$build" real-mirror-start '{"name":"bench","media":false}'
wlan=$(jq -r '.devices[0].wlanAddress' <<<"$sim_ready")
port=$(jq -r '.devices[0].wirelessPort // 5555' <<<"$sim_ready")
target="$wlan:$port"
adb connect "$target" >/dev/null
ln -sf "$client" "$sim_work/tools/scrcpy"
head -c 1000 /dev/urandom >"$sim_work/server.jar"
export SCRCPY_SERVER_PATH="$sim_work/server.jar" SCRCPY_ICON_PATH="$(dirname "$client")/icon.png"

# A private X server on a display number it picks itself.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$sim_work/display" 2>/dev/null &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null || true; sim_world_cleanup' EXIT
for _ in $(seq 200); do [ -s "$sim_work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n 1 "$sim_work/display")"

# The client alone: from its start to its window on the X server, as a user would see it.
client_alone() {
  local start pid
  start=$EPOCHREALTIME
  ADB="$(command -v adb)" "$client" -s "$target" --no-audio >/dev/null 2>&1 &
  pid=$!
  until xdotool search --onlyvisible --pid "$pid" >/dev/null 2>&1; do
    kill -0 "$pid" 2>/dev/null || { echo "the client ended before its window showed" >&2; exit 1; }
    if awk -v s="$start" -v e="$EPOCHREALTIME" 'BEGIN { exit !(e - s > 20) }'; then
      echo "a client run showed no window within 20 s; run again" >&2
      stalls=$((stalls + 1))
      kill "$pid"
      wait "$pid" 2>/dev/null || true
      return 1
    fi
    sleep 0.005
  done
  awk -v s="$start" -v e="$EPOCHREALTIME" 'BEGIN { printf "%.3f\n", (e - s) * 1000 }' >>"$sim_work/alone"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
}

stalls=0
until client_alone; do :; done  # warm-up: the first start of a client loads its libraries from disk
for _ in $(seq "$runs"); do
  until client_alone; do :; done
  "$driver" "$sim_work/tools" 1 "$target" >>"$sim_work/app"
done
sed -i 1d "$sim_work/alone"

alone=$(sim_world_median <"$sim_work/alone")
ready=$(awk '{ print $2 }' "$sim_work/app" | sim_world_median)
frame=$(awk '{ print $3 }' "$sim_work/app" | sim_world_median)
echo "starting a mirror with the real scrcpy $("$client" --version | head -n 1 | cut -d' ' -f2), $runs runs each (median):"
echo "  the client alone, start to its window                 $alone ms"
echo "  through the app, request to ready mirror              $ready ms"
echo "  through the app, request to the client's window       $frame ms (first decoded frame)"
awk -v a="$frame" -v b="$alone" 'BEGIN { printf "  window through the app / window alone   %.3f\n", a / b }'
echo "  client runs without a window in 20 s (run again): $stalls"
awk -v a="$ready" -v b="$alone" 'BEGIN { printf "ratio %.3f\n", a / b }'
