#!/usr/bin/env bash
# What the monitor writes to storage in a day, as the kernel counts it
# (/proc/PID/io write_bytes: a page is counted each time it turns dirty), on
# the paced line: the built-in simulator at 9600 baud, about 7 s a cycle, so
# the kernel writes dirty pages back every 30 s (dirty_expire_centisecs) and
# each later append dirties them again, as on a site board. A fast run would
# dirty the same pages many times before a writeback and undercount.
# With the service configuration of packaging/trm27k.json (the built-in
# simulator instead of its port) or with the options given after SECONDS,
# against the noisy scenario ({"noise": true}; WRITE_BUDGET_SCENARIO=still
# for the still one). Measured over SECONDS after a minute of warm-up, and
# scaled to a day. The history writes in bursts, one per commit interval, so
# SECONDS should hold whole intervals: the default 1840 s holds two of the
# service's (128 cycles of about 7.2 s). It takes SECONDS + 60 s: run it in
# the background and read its output file.
#   bench/write_budget.sh [BUILD_DIR] [SECONDS] [-- MONITOR OPTIONS...]
set -euo pipefail

build=${1:-build/bench}
seconds=${2:-1840}
shift $(( $# < 2 ? $# : 2 ))
[[ "${1:-}" == "--" ]] && shift
warmup=${WRITE_BUDGET_WARMUP:-60}
here=$(cd "$(dirname "$0")" && pwd)
monitor="$build/tools/monitor/trm27k-monitor"
[[ -x "$monitor" ]] || { echo "write_budget: $monitor not built" >&2; exit 1; }
(( seconds >= 600 )) || echo "write_budget: under 10 minutes the figure is rough" >&2

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
scenario=()
if [[ "${WRITE_BUDGET_SCENARIO:-noise}" == noise ]]; then
    echo '{"noise": true}' >"$work/noise.json"
    scenario=(--sim-scenario "$work/noise.json")
fi
"$monitor" "$@" "${scenario[@]}" --history "$work/history.db" --events "$work/events.jsonl" \
    --plugin-stdout /dev/null --log-level off >/dev/null &
pid=$!

written() { sed -n 's/^write_bytes: //p' "/proc/$pid/io"; }
# Waits until `$1` seconds of the run passed, the monitor still running.
wait_until() {
    while (( SECONDS < $1 )); do
        kill -0 "$pid" 2>/dev/null || { echo "write_budget: the monitor ended early" >&2; exit 1; }
        sleep 1
    done
}
SECONDS=0
wait_until "$warmup"
t0=$SECONDS w0=$(written)
wait_until $((warmup + seconds))
t1=$SECONDS w1=$(written)
kill -TERM "$pid"
wait "$pid" || true
pid=""
files=$(cd "$work" && ls -1 | grep -v '\.json$' | while read -r f; do printf '%s %s B, ' "$f" "$(stat -c %s "$f")"; done)
awk -v t="$((t1 - t0))" -v w="$((w1 - w0))" -v files="${files%, }" \
    -v scenario="${WRITE_BUDGET_SCENARIO:-noise}" 'BEGIN {
    printf "scenario %s, paced: %d s measured, bytes written: %d\n", scenario, t, w
    printf "per 30 s: %.0f B; per day: %.1f MB\n", w / t * 30, w / t * 86400 / 1e6
    printf "files at the end: %s\n", files
}'
