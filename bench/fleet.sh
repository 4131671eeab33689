#!/usr/bin/env bash
# The fleet run: N monitors, each polling its built-in simulator paced at
# 9600 baud, publishing to one local mosquitto; a subscriber counts messages
# per second and the delay from each state's cycle end ("cycle_ms") to
# delivery; the broker's CPU comes from /proc. Everything is started and
# stopped by process id.
#
# The monitors keep their history as the installed service does
# (packaging/trm27k.json: a commit every 128 cycles, rows on change) and send
# the full JSON state, one per child and cycle, as it carries the time stamp.
# The simulated power systems stand for hardware that in the field has a
# processor of its own: their threads ("sim") run at nice 10, so that 100 of
# them do not take the two cores from what is measured. FLEET_OPTIONS adds
# monitor options; FLEET_SIM_NICE=0 leaves the simulators at the monitors'
# priority; FLEET_SPREAD_MS=0 starts every monitor at once.
#   bench/fleet.sh [BUILD_DIR] [N] [SECONDS]
set -euo pipefail

build=${1:-build/bench}
count=${2:-100}
seconds=${3:-120}
monitor=${MONITOR:-$build/tools/monitor/trm27k-monitor}
sub="$build/bench/trm27k-fleet-sub"
work=$(mktemp -d /tmp/trm27k-fleet.XXXXXX)
chmod 0777 "$work"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
pids=()
broker=""
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  if [[ -n "$broker" ]]; then kill "$broker" 2>/dev/null || true; wait "$broker" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

printf 'listener %s 127.0.0.1\nallow_anonymous true\nmax_connections -1\nset_tcp_nodelay true\n' "$port" > "$work/mosquitto.conf"
/usr/sbin/mosquitto -c "$work/mosquitto.conf" 2> "$work/mosquitto.log" &
broker=$!
sleep 1
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# Sites in the field poll at their own times: the starts are spread over one
# cycle of the paced line (FLEET_SPREAD_MS), or a hundred monitors started at
# once would finish their cycles together, and that burst, not a site's delay,
# would be measured.
spread_ms=${FLEET_SPREAD_MS:-6700}
between=$(awk -v t="$spread_ms" -v n="$count" 'BEGIN { printf "%.4f", t / n / 1000 }')
for ((k = 0; k < count; ++k)); do
  sleep "$between"
  "$monitor" --quiet --site "site$k" --mqtt "127.0.0.1:$port" --mqtt-state-json --mqtt-heartbeat 0 --history "$work/h$k.db" \
    --history-commit 128 --history-rows changes ${FLEET_OPTIONS:-} \
    --plugin-stdout /dev/null 2> /dev/null &
  pids+=($!)
done
# Every monitor connected, its discovery sent and through its first cycles:
# the start of a hundred monitors at once is not what is measured.
sleep $((10 + count / 4))
for pid in "${pids[@]}"; do
  for task in /proc/"$pid"/task/*; do
    if [[ "$(cat "$task/comm" 2>/dev/null)" == sim ]]; then
      renice -n "${FLEET_SIM_NICE:-10}" -p "${task##*/}" > /dev/null
    fi
  done
done
start=$(ticks "$broker")
"$sub" "$port" "$seconds" | tee "$work/sub.txt"
end=$(ticks "$broker")
hz=$(getconf CLK_TCK)
echo "monitors $count"
load=$(cat /proc/loadavg)
echo "load_average_at_end ${load%% *}"
awk -v t=$((end - start)) -v hz="$hz" -v s="$seconds" \
  'BEGIN { printf "broker_cpu_percent %.2f\n", 100 * t / hz / s }'
