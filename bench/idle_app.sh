#!/usr/bin/env bash
# The idle app: CPU and memory of orvan-mirror with no device attached, its 1.0 s device refresh
# running. Starts a copy of the built app on a private Xvfb display (offscreen Qt without Xvfb)
# with its own HOME and XDG folders, its own shared adb server port and a tool folder of its own
# (the build's adb; scrcpy from the build's tool folder, or a placeholder: an idle app never
# runs it, it only has to be there), lets it settle for 5 s, samples /proc/<pid>/stat and VmRSS
# for the measuring time, then ends it by its pid.
#
#   bench/idle_app.sh <build folder> [seconds to measure, default 60]
#
# Prints the app's CPU use in % of one core (its own threads, and with the children it reaped,
# that is the adb clients of every refresh) and its maximum resident size in MB.
# Targets: under 0.5 % of one core and under 60 MB, with the scan page showing its code and its
# callback server listening.
#
# The app's private adb server runs on a free port (ORVAN_PRIVATE_ADB_PORT). Every process the run left behind (adb servers) carries this run's marker in
# its environment and is ended by its pid.
set -euo pipefail

build="$(realpath "${1:?build folder}")"
seconds="${2:-60}"
settle=5
app="$build/bin/orvan-mirror"
[ -x "$app" ] || { echo "missing $app (build the target orvan-mirror)" >&2; exit 1; }

# For sim_world_free_port only: this bench needs no simulated glasses.
source "$(dirname "${BASH_SOURCE[0]}")/lib/sim-world.bash"

work=$(mktemp -d /tmp/orvan-bench-idle-XXXXXX)
marker="orvan-bench-idle-$$-$RANDOM"
app_pid=""
xvfb_pid=""

# Processes of this run (the app and the adb servers it started) carry the marker.
marked_pids() {
  local environ pid
  for environ in /proc/[0-9]*/environ; do
    pid=${environ#/proc/}
    pid=${pid%/environ}
    if tr '\0' '\n' 2>/dev/null <"$environ" | grep -qx "ORVAN_BENCH_RUN=$marker"; then echo "$pid"; fi
  done
}

cleanup() {
  if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
  fi
  if [ -n "${ANDROID_ADB_SERVER_PORT:-}" ]; then adb -P "$ANDROID_ADB_SERVER_PORT" kill-server >/dev/null 2>&1 || true; fi
  local pid
  for pid in $(marked_pids); do kill "$pid" 2>/dev/null || true; done
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work"/{home,config,data,cache,state,runtime}
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" \
  XDG_CACHE_HOME="$work/cache" XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work/runtime"
export ANDROID_ADB_SERVER_PORT
ANDROID_ADB_SERVER_PORT=$(sim_world_free_port)
# No session bus: keeps Qt from autolaunching a dbus-daemon that would outlive the run.
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-session-bus"

# The app finds its tools at <bindir>/../share/orvan-mirror/tools/linux-<arch>: give the copy
# a complete folder, so that its refresh really runs adb.
tools_in_build="$build/share/orvan-mirror/tools/linux-$(uname -m)"
tools="$work/prefix/share/orvan-mirror/tools/linux-$(uname -m)"
mkdir -p "$work/prefix/bin" "$tools"
cp "$app" "$work/prefix/bin/orvan-mirror"
app="$work/prefix/bin/orvan-mirror"
adb_tool="$tools_in_build/adb"
[ -x "$adb_tool" ] || adb_tool=$(command -v adb) || { echo "no adb: run scripts/setup" >&2; exit 1; }
ln -s "$(realpath "$adb_tool")" "$tools/adb"
for tool in scrcpy scrcpy-server; do
  if [ -e "$tools_in_build/$tool" ]; then
    ln -s "$(realpath "$tools_in_build/$tool")" "$tools/$tool"
  else
    printf '#!/bin/sh\nexit 1\n' >"$tools/$tool"
    chmod +x "$tools/$tool"
  fi
done

# The app's private adb server goes to a free port of this run, never 15037.
export ORVAN_PRIVATE_ADB_PORT
ORVAN_PRIVATE_ADB_PORT=$(sim_world_free_port)
private_port=$ORVAN_PRIVATE_ADB_PORT
# The scan page's callback server: loopback, a port the system picks.
export ORVAN_CALLBACK_PORT=0 ORVAN_CALLBACK_BIND_ADDRESS=127.0.0.1

# The computer is on an open Wi-Fi network, as NetworkManager would report it: the scan page
# draws its code at once and its callback server listens. A shell script answers for nmcli, so
# the page's 2 s network check costs one small process here (the real nmcli costs more).
mkdir -p "$work/path"
cat >"$work/path/nmcli" <<'NMCLI'
#!/bin/sh
echo '*:OrvanBench:--:(none):(none):wlan-bench'
NMCLI
chmod +x "$work/path/nmcli"
export PATH="$work/path:$PATH"

if command -v Xvfb >/dev/null; then
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
  [ -s "$work/display" ] || { cat "$work/xvfb.log" >&2; exit 1; }
  export DISPLAY=":$(head -1 "$work/display")" QT_QPA_PLATFORM=xcb
  platform="xcb on Xvfb $DISPLAY"
else
  export QT_QPA_PLATFORM=offscreen
  platform="offscreen"
fi

ORVAN_BENCH_RUN="$marker" "$app" >"$work/app.log" 2>&1 &
app_pid=$!
sleep "$settle"
kill -0 "$app_pid" 2>/dev/null || { echo "the app ended early:" >&2; cat "$work/app.log" >&2; exit 1; }

# The callback server's listening socket, owned by the app (its first that is not the private
# adb server's port).
listening_port() {
  local inodes inode hex
  inodes=$(find "/proc/$app_pid/fd" -lname 'socket:*' -printf '%l\n' 2>/dev/null | tr -dc '0-9\n')
  for inode in $inodes; do
    hex=$(awk -v inode="$inode" '$4 == "0A" && $10 == inode { split($2, a, ":"); print a[2] }' /proc/net/tcp)
    # The private adb server's port is never the callback server's.
    [ -n "$hex" ] && [ "$((16#$hex))" != "$private_port" ] && { echo "$((16#$hex))"; return; }
  done
}
callback_port=$(listening_port)
[ -n "$callback_port" ] || { echo "the scan page's callback server is not listening:" >&2; cat "$work/app.log" >&2; exit 1; }

ticks=$(getconf CLK_TCK)
# Fields 14-17 of /proc/<pid>/stat (utime stime cutime cstime), counted after the command name,
# which may contain blanks.
cpu_ticks() { sed 's/.*) //' "/proc/$app_pid/stat" | awk '{ print $12 + $13, $12 + $13 + $14 + $15 }'; }
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$app_pid/status"; }

read -r own_start all_start < <(cpu_ticks)
start=$EPOCHREALTIME
max_rss=$(rss_kb)
end_at=$(awk -v s="$start" -v n="$seconds" 'BEGIN { printf "%.3f", s + n }')
while awk -v now="$EPOCHREALTIME" -v e="$end_at" 'BEGIN { exit !(now < e) }'; do
  sleep 1
  kill -0 "$app_pid" 2>/dev/null || { echo "the app ended during the run:" >&2; cat "$work/app.log" >&2; exit 1; }
  rss=$(rss_kb)
  [ "$rss" -gt "$max_rss" ] && max_rss=$rss
done
read -r own_end all_end < <(cpu_ticks)
elapsed=$(awk -v s="$start" -v e="$EPOCHREALTIME" 'BEGIN { printf "%.3f", e - s }')

awk -v own=$((own_end - own_start)) -v all=$((all_end - all_start)) -v hz="$ticks" -v t="$elapsed" \
  -v rss="$max_rss" -v platform="$platform" -v port="$private_port" -v cores="$(nproc)" -v settle="$settle" \
  -v callback="$callback_port" 'BEGIN {
  printf "idle orvan-mirror, %s, private adb port %s, scan page callback server on 127.0.0.1:%s, measured %.1f s after %s s\n", platform, port, callback, t, settle
  printf "clock ticks: %d per second; %d cores\n", hz, cores
  printf "CPU, app threads alone:         %.2f %% of one core (%d ticks)\n", own / hz / t * 100, own
  printf "CPU, with reaped adb children:  %.2f %% of one core (%d ticks)\n", all / hz / t * 100, all
  printf "max resident:                   %.1f MB\n", rss / 1024
  printf "targets: under 0.5 %% of one core, under 60 MB: %s\n", (all / hz / t * 100 < 0.5 && rss / 1024 < 60) ? "met" : "NOT met"
}'
