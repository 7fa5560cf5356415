# Sourced by the bench scripts: an isolated adb world with one simulated pair of glasses.
#
#   sim_world_start <build folder> <name> <glasses-sim device JSON, or a JSON array of them>
#
# Makes a temporary folder ($sim_work) with its own HOME (adb keys) and a tool folder
# ($sim_work/tools: adb + a placeholder scrcpy), exports a free ANDROID_ADB_SERVER_PORT (never
# 5037 or 15037) and ADB_EMU=0, starts that adb server and the simulator, and sets $sim_ready to
# the simulator's "ready" JSON. An EXIT trap kills the server, ends the simulator and removes
# the folder, whatever happens.

sim_work=""
sim_pid=""
sim_ready=""

sim_world_cleanup() {
  adb kill-server >/dev/null 2>&1 || true
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  exec 9>&- 2>/dev/null || true
  [ -n "$sim_work" ] && rm -rf "$sim_work"
}

sim_world_free_port() {
  local port
  for _ in $(seq 100); do
    port=$((20000 + RANDOM % 20000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then echo "$port"; return; fi
  done
  echo "no free port" >&2
  return 1
}

sim_world_start() {
  local build=$1 name=$2 device=$3
  local sim="$build/bin/glasses-sim"
  [ -x "$sim" ] || { echo "missing $sim (build the target glasses-sim)" >&2; exit 1; }
  sim_work=$(mktemp -d "/tmp/orvan-bench-$name-XXXXXX")
  trap sim_world_cleanup EXIT

  export HOME="$sim_work/home" ANDROID_ADB_SERVER_PORT=$(sim_world_free_port) ADB_EMU=0
  mkdir -p "$HOME" "$sim_work/tools"
  ln -s "$(command -v adb)" "$sim_work/tools/adb"
  touch "$sim_work/tools/scrcpy"
  adb start-server >/dev/null 2>&1

  # The simulator ends when its standard input closes, so it cannot outlive the script.
  mkfifo "$sim_work/control"
  local source=(--device "$device")
  if [[ $device == \[* ]]; then
    printf '%s' "$device" >"$sim_work/devices.json"
    source=(--config "$sim_work/devices.json")
  fi
  "$sim" "${source[@]}" <"$sim_work/control" >"$sim_work/sim.out" 2>&1 &
  sim_pid=$!
  exec 9>"$sim_work/control"
  for _ in $(seq 100); do grep -q '^ready' "$sim_work/sim.out" && break; sleep 0.05; done
  sim_ready=$(sed -n 's/^ready //p' "$sim_work/sim.out")
  [ -n "$sim_ready" ] || { cat "$sim_work/sim.out" >&2; exit 1; }
}

# Appends the milliseconds a command took to a file.
sim_world_time_into() {
  local file=$1 start end
  shift
  start=$EPOCHREALTIME
  "$@"
  end=$EPOCHREALTIME
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f\n", (e - s) * 1000 }' >>"$file"
}

sim_world_median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
