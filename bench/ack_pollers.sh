#!/usr/bin/env bash
# Acknowledgement queries (one POST per connection, as the glasses poll) against our callback
# server and, as the baseline, against a trivial static responder written below, under the same
# load: 200 concurrent pollers (each queries, pauses PAUSE_MS, queries again: 20 queries a second
# each at the default 50 ms, far more often than glasses poll), then the same while 1,000 idle
# connections are held open. Last line: ratio <p99 ours / p99 baseline> for the 200-poller load.
# Usage: bench/ack_pollers.sh <build folder> [seconds per run] [PAUSE_MS]
set -euo pipefail
build=${1:?usage: ack_pollers.sh <build folder> [seconds]}
seconds=${2:-5}
pause=${3:-50}
bench="$build/bin/bench_ack_pollers"
[ -x "$bench" ] || { echo "missing $bench (cmake --build $build --target bench_ack_pollers)" >&2; exit 1; }
ulimit -n 8192 2>/dev/null || true
work=$(mktemp -d "${TMPDIR:-/tmp}/orvan-ack-bench-XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# Baseline: reads the header and the announced body, writes one fixed reply, closes.
cat > "$work/static_responder.py" <<'PY'
import asyncio, sys
REPLY = (b'HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 11\r\n'
         b'Connection: close\r\n\r\n{"ok":true}')
async def serve(reader, writer):
    try:
        header = await reader.readuntil(b'\r\n\r\n')
        length = 0
        for line in header.split(b'\r\n'):
            if line.lower().startswith(b'content-length:'):
                length = int(line.split(b':', 1)[1])
        await reader.readexactly(length)
        writer.write(REPLY)
        await writer.drain()
    except Exception:
        pass
    writer.close()
async def main():
    server = await asyncio.start_server(serve, '127.0.0.1', 0, backlog=4096)
    print('port', server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()
asyncio.run(main())
PY

start() {  # name command...: starts a server that prints "port N", sets $port
  local fifo="$work/$1.in"
  mkfifo "$fifo"
  "${@:2}" < "$fifo" > "$work/$1.out" 2>&1 &
  pids+=($!)
  exec {holder}> "$fifo"  # keeps its stdin open until the script ends
  for _ in $(seq 100); do
    port=$(awk '/^port /{print $2}' "$work/$1.out")
    [ -n "$port" ] && return 0
    sleep 0.1
  done
  echo "$1 did not start" >&2; exit 1
}

start ours "$bench" serve; ours=$port
start baseline python3 "$work/static_responder.py"; baseline=$port

run() {  # label port idle: prints the figures, leaves the p99 in $p99
  local line; line=$("$bench" load "$2" 200 "$seconds" "$3" "$pause")
  echo "$1: $line"
  p99=$(echo "$line" | awk '{for (i = 1; i < NF; i++) if ($i == "p99_ms") print $(i + 1)}')
}
run "ours, 200 pollers" "$ours" 0; ours_p99=$p99
run "baseline, 200 pollers" "$baseline" 0; base_p99=$p99
run "ours, 200 pollers + 1000 idle" "$ours" 1000
run "baseline, 200 pollers + 1000 idle" "$baseline" 1000
python3 -c "print(f'ratio {float($ours_p99) / float($base_p99):.3f}')"
