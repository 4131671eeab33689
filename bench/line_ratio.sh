#!/usr/bin/env bash
# End to end: the monitor polls the simulator paced at 9600 baud on a
# pseudo-terminal for a few cycles; the measured time of each cycle, from its
# first command to its end (the 2-second gate between cycles excluded), is
# set against the line limit of the bytes both sides sent: 10 bits a byte at
# 9600 baud, plus the 20 ms pause before each reply is examined.
#   bench/line_ratio.sh [BUILD_DIR] [CYCLES]
set -euo pipefail

build=${1:-build/bench}
cycles=${2:-4}
monitor="$build/tools/monitor/trm27k-monitor"
simulator="$build/tools/sim/trm27k-sim"
for program in "$monitor" "$simulator"; do
    [[ -x "$program" ]] || { echo "line_ratio: $program not built" >&2; exit 1; }
done

work=$(mktemp -d)
sim_pid=""
cleanup() {
    if [[ -n "$sim_pid" ]] && kill -0 "$sim_pid" 2>/dev/null; then kill "$sim_pid"; fi
    rm -rf "$work"
}
trap cleanup EXIT

"$simulator" --pty --pace --stats "$work/stats.json" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 50); do
    [[ -s "$work/sim.out" ]] && break
    sleep 0.1
done
pty=$(head -n 1 "$work/sim.out")
[[ -n "$pty" ]] || { echo "line_ratio: the simulator gave no line" >&2; cat "$work/sim.err" >&2; exit 1; }

"$monitor" --port "$pty" --cycles "$cycles" --events "$work/events.jsonl" --quiet \
    --plugin-stdout /dev/null --log-level off
kill -TERM "$sim_pid"
wait "$sim_pid" || true
sim_pid=""

# A number field of a JSON text, by name.
field() { grep -o "\"$1\" *: *[0-9]*" "$2" | head -n 1 | grep -o '[0-9]*$'; }
received=$(field bytes_received "$work/stats.json")  # the monitor's commands
sent=$(field bytes_sent "$work/stats.json")          # the simulator's replies
replies=$(field replies "$work/stats.json")

awk -v received="$received" -v sent="$sent" -v replies="$replies" -v cycles="$cycles" '
    function number(name,    m) {
        if (!match($0, "\"" name "\":[0-9]+")) return -1
        m = substr($0, RSTART, RLENGTH); sub(/.*:/, "", m); return m + 0
    }
    /"event":"command"/ { if (start < 0) start = number("t_ms") }
    /"event":"timeout"/ { ++timeouts }
    /"event":"cycle"/ { measured += number("t_ms") - start; start = -1; ++done }
    BEGIN { start = -1 }
    END {
        byte_s = 10 / 9600
        limit = (received + sent) * byte_s + 0.020 * replies
        seconds = measured / 1000
        # The pseudo-terminal hands a command over at once; a real line spends its bytes.
        line = seconds + received * byte_s
        printf "end to end: %d of %d cycles, %d replies, %d timeouts\n", done, cycles, replies, timeouts
        printf "  bytes: %d sent by the monitor, %d by the simulator\n", received, sent
        printf "  measured %.3f s per cycle, line limit %.3f s per cycle\n", seconds / done, limit / done
        printf "  ratio measured/limit: %.4f\n", seconds / limit
        printf "  ratio with the commands'\'' line time added: %.4f (goal <= 1.02)\n", line / limit
        if (done != cycles || timeouts > 0) exit 1
    }' "$work/events.jsonl"
