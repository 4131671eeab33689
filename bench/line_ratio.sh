#!/usr/bin/env bash
# End to end: the monitor polls the simulator paced at 9600 baud on a
# pseudo-terminal for a few cycles; the measured time of each cycle, from its
# first command to its end (the 2-second gate between cycles excluded), is
# set against the line limit of the bytes both sides sent: 10 bits a byte at
# 9600 baud, plus the 20 ms pause before each reply is examined.
#
# With SYSTEMS 2, two power systems share the line (the simulator answers
# addresses 1 and 2, one exchange each in turn) for CYCLES cycles each; the
# measured time is the time the line was in use by some cycle (the union of
# the two systems' cycles), set against the line limit of all the bytes.
# With SYSTEMS off, address 2 does not answer: the figure is the cycle time
# of address 1 alone and how much each of its rounds lost to the timeout.
#   bench/line_ratio.sh [BUILD_DIR] [CYCLES] [SYSTEMS: 1, 2 or off]
set -euo pipefail

build=${1:-build/bench}
cycles=${2:-4}
systems=${3:-1}
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

sim_args=()
if [[ "$systems" != 1 ]]; then
    sim_args=(--address 1,2 --scenario "$work/scenario.json")
    if [[ "$systems" == off ]]; then echo '{"silent": [2]}' >"$work/scenario.json"; else echo '{}' >"$work/scenario.json"; fi
fi
"$simulator" --pty --pace --stats "$work/stats.json" "${sim_args[@]}" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 50); do
    [[ -s "$work/sim.out" ]] && break
    sleep 0.1
done
pty=$(head -n 1 "$work/sim.out")
[[ -n "$pty" ]] || { echo "line_ratio: the simulator gave no line" >&2; cat "$work/sim.err" >&2; exit 1; }

# Two power systems of the simulator's shape, at addresses 1 and 2.
system() {
    local id=$1
    echo "{\"data_id\": $id, \"address\": $id, \"acSetting\": [{\"data_id\": ${id}1}, {\"data_id\": ${id}2}]," \
         "\"dcSetting\": [{\"data_id\": ${id}5}, {\"data_id\": ${id}6}], \"rcSetting\": {}}"
}
config=()
site_cycles=$cycles
if [[ "$systems" != 1 ]]; then
    echo "{\"devices\": [$(system 1), $(system 2)]}" >"$work/site.json"
    config=(--config "$work/site.json")
    [[ "$systems" == 2 ]] && site_cycles=$((2 * cycles))
fi
"$monitor" --port "$pty" --cycles "$site_cycles" --events "$work/events.jsonl" --quiet \
    --plugin-stdout /dev/null --log-level off "${config[@]}"
kill -TERM "$sim_pid"
wait "$sim_pid" || true
sim_pid=""

# A number field of a JSON text, by name.
field() { grep -o "\"$1\" *: *[0-9]*" "$2" | head -n 1 | grep -o '[0-9]*$'; }
received=$(field bytes_received "$work/stats.json")  # the monitor's commands
sent=$(field bytes_sent "$work/stats.json")          # the simulator's replies
replies=$(field replies "$work/stats.json")

# What both reports share: a field of an event line, and the line limit.
common='
    function number(name,    m) {
        if (!match($0, "\"" name "\":[0-9]+")) return -1
        m = substr($0, RSTART, RLENGTH); sub(/.*:/, "", m); return m + 0
    }
    function line_limit() { return (received + sent) * 10 / 9600 + 0.020 * replies }
'

if [[ "$systems" != 1 ]]; then
    # Each system's cycle runs from its first command to its end; the line is
    # in use while some cycle runs. A timeout names its system.
    awk -v received="$received" -v sent="$sent" -v replies="$replies" -v cycles="$site_cycles" -v systems="$systems" "$common"'
    function text(name,    m) {
        if (!match($0, "\"" name "\":\"[^\"]*\"")) return ""
        m = substr($0, RSTART, RLENGTH); sub(/^[^:]*:"/, "", m); sub(/"$/, "", m); return m
    }
    /"event":"command"/ { s = text("system"); if (!(s in start)) start[s] = number("t_ms") }
    /"event":"timeout"/ { ++timeouts }
    /"event":"cycle"/ {
        s = text("system"); t = number("t_ms")
        # The union of the cycles: only what lies beyond the busy time so far counts.
        from = start[s] > busy_until ? start[s] : busy_until
        if (t > from) used += t - from
        if (t > busy_until) busy_until = t
        own[s] += t - start[s]; ++count[s]; ++done
        delete start[s]
    }
    END {
        byte_s = 10 / 9600
        limit = line_limit()
        seconds = used / 1000
        line = seconds + received * byte_s
        printf "two power systems on one line (%s): %d cycles, %d replies, %d timeouts\n", systems, done, replies, timeouts
        for (s in count) printf "  %s: %d cycles, %.3f s per cycle\n", s, count[s], own[s] / 1000 / count[s]
        if (systems == "off") {
            printf "  lost per round to the silent address: %.3f s per exchange of addr1\n", \
                (own["addr1"] / 1000 / count["addr1"] - limit / count["addr1"]) / (replies / count["addr1"])
            exit(done == cycles ? 0 : 1)
        }
        printf "  line in use %.3f s, line limit of both %.3f s\n", seconds, limit
        printf "  ratio with the commands'\'' line time added: %.4f (goal <= 1.02)\n", line / limit
        if (done != cycles || timeouts > 0) exit 1
    }' "$work/events.jsonl"
    exit $?
fi

awk -v received="$received" -v sent="$sent" -v replies="$replies" -v cycles="$cycles" "$common"'
    /"event":"command"/ { if (start < 0) start = number("t_ms") }
    /"event":"timeout"/ { ++timeouts }
    /"event":"cycle"/ { measured += number("t_ms") - start; start = -1; ++done }
    BEGIN { start = -1 }
    END {
        byte_s = 10 / 9600
        limit = line_limit()
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
