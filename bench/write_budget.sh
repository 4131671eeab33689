#!/usr/bin/env bash
# What the monitor writes to storage per poll cycle, as the kernel counts it
# (/proc/PID/io write_bytes: pages handed to the block layer), with the
# service configuration of packaging/trm27k.json (the built-in simulator
# instead of its port) or with the options given after the build folder.
# Measured between cycle 100 and cycle 100 + CYCLES of a fast run, and scaled
# to a day of the paced cycle (7 s: 12343 cycles).
#   bench/write_budget.sh [BUILD_DIR] [CYCLES] [-- MONITOR OPTIONS...]
set -euo pipefail

build=${1:-build/bench}
cycles=${2:-1000}
shift $(( $# < 2 ? $# : 2 ))
[[ "${1:-}" == "--" ]] && shift
here=$(cd "$(dirname "$0")" && pwd)
monitor="$build/tools/monitor/trm27k-monitor"
[[ -x "$monitor" ]] || { echo "write_budget: $monitor not built" >&2; exit 1; }

# On the disk, not in memory: a tmpfs hands nothing to the block layer.
work=$(mktemp -d "${WRITE_BUDGET_DIR:-$PWD}/write-budget.XXXXXX")
pid=""
cleanup() {
    if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then kill "$pid"; wait "$pid" || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

if (( $# == 0 )); then
    # The service's file, polling the built-in simulator instead of its port.
    grep -v '"port"' "$here/../packaging/trm27k.json" >"$work/service.json"
    set -- --config "$work/service.json"
fi
# No rotation, so the cycles can be counted in one file; stopped once measured.
"$monitor" "$@" --fast --history "$work/history.db" --events "$work/events.jsonl" \
    --events-max-mb 0 --plugin-stdout /dev/null --log-level off >/dev/null &
pid=$!

written() { sed -n 's/^write_bytes: //p' "/proc/$pid/io"; }
done_cycles() { grep -c '"event":"cycle"' "$work/events.jsonl" 2>/dev/null || true; }
# Samples the counter together with the number of completed cycles.
sample_at() {
    local n
    while n=$(done_cycles); (( n < $1 )); do
        kill -0 "$pid" 2>/dev/null || { echo "write_budget: the monitor ended early" >&2; exit 1; }
        sleep 0.02
    done
    echo "$n $(written)"
}
read -r c0 w0 < <(sample_at 100)
read -r c1 w1 < <(sample_at $((100 + cycles)))
kill -TERM "$pid"
wait "$pid" || true
pid=""
awk -v c="$((c1 - c0))" -v w="$((w1 - w0))" \
    -v h="$(stat -c %s "$work/history.db")" -v e="$(stat -c %s "$work/events.jsonl")" 'BEGIN {
    per = w / c
    printf "cycles measured: %d, bytes written: %d\n", c, w
    printf "per cycle: %.0f B; per day at 7 s a cycle: %.1f MB\n", per, per * 12343 / 1e6
    printf "files at the end: history %d B, events %d B\n", h, e
}'
