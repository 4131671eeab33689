#!/usr/bin/env bash
# Soak: the monitor against the simulator with seeded fault injection for many
# cycles, reply pauses and the 2-second gate made short. Prints and checks the
# cycles completed, stalls, crashes, history rows per child, resident memory
# and that every saved image is what the simulator's replies to that child's
# commands decode to (late and repeated replies must never answer another
# command).
#   scripts/soak.sh [CYCLES] [BUILD_DIR]      (defaults: 500, build/default)
set -euo pipefail
cycles=${1:-500}
build=${2:-build/default}
monitor=$build/tools/monitor/trm27k-monitor
sim=$build/tools/sim/trm27k-sim
check=$build/tools/soak/trm27k-soak-check
timeout_ms=40
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

echo "soak: fault-free reference run"
"$monitor" --fast --quiet --cycles 50 --events "$dir/clean.jsonl" --history "$dir/clean.db" \
  --plugin-stdout /dev/null 2>/dev/null

echo "soak: $cycles cycles with faults (seed 20261208)"
# Late replies come after the monitor's timeout (but within twice it).
coproc SIM { exec "$sim" --pty --seed 20261208 --drop 12 --corrupt 5 --truncate 2 \
  --wrong-rtn 2 --wrong-count 1 --delay 2:$((3 * timeout_ms / 2)) --duplicate 3 \
  --stats "$dir/sim-stats.json"; }
sim_pid=$SIM_PID
read -r pty <&"${SIM[0]}"
status=0
# A poll that hangs outright never reaches its cycle count: a generous bound
# (a cycle under faults takes well under a second) turns that into a failure.
limit=$((cycles + 60))
timeout "$limit" "$monitor" --fast --quiet --port "$pty" --cycles "$cycles" --timeout-first "$timeout_ms" \
  --timeout-gap "$timeout_ms" --events "$dir/soak.jsonl" --history "$dir/soak.db" \
  --plugin-stdout /dev/null 2>"$dir/monitor.err" || status=$?
kill -TERM "$sim_pid"
wait "$sim_pid" || true
echo "monitor exit status:         $status (crash: $([[ $status -ge 128 ]] && echo yes || echo no))"
[[ $status -ne 124 ]] || { echo "soak: FAIL (no end after $limit s: the poll hung)"; exit 1; }
echo "simulator faults applied:    $(cat "$dir/sim-stats.json" 2>/dev/null || echo '?')"
[[ $status -eq 0 ]] || { echo "soak: FAIL (monitor did not stop cleanly)"; exit 1; }
"$check" --events "$dir/soak.jsonl" --history "$dir/soak.db" \
  --fault-free-events "$dir/clean.jsonl" --timeout-ms "$timeout_ms"
