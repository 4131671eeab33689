#!/usr/bin/env bash
# MQTT traffic of one monitor, as a real mosquitto counts it: a paced run
# (9600 baud, the real cycle of about 7 s) of the built-in simulator, still
# or with the scenario's noise, publishing to a broker on loopback. A
# subscriber to '#' counts topic plus payload per topic; the broker's own
# $SYS counters give the bytes it received (whole MQTT packets).
#
# The start (connect, discovery, the first full report of every value) is
# counted apart; the steady part is measured over the window after it and
# scaled to a day. The day's figure adds the periodic refresh (the start's
# DATA_ID/values messages and active-alarm list, once per refresh interval)
# to the steady rate.
#   bench/uplink.sh [BUILD_DIR] [still|noisy] [SECONDS] [-- MONITOR OPTIONS...]
set -euo pipefail

build=${1:-build/default}
scenario=${2:-noisy}
seconds=${3:-600}
shift $(( $# < 3 ? $# : 3 ))
[[ "${1:-}" == "--" ]] && shift
monitor=${MONITOR:-$build/tools/monitor/trm27k-monitor}
warmup=${UPLINK_WARMUP:-60}        # seconds before the window: the start's messages
refresh=${UPLINK_REFRESH:-3600}    # the monitor's full refresh interval (0: none)
[[ -x "$monitor" ]] || { echo "uplink: $monitor not built" >&2; exit 1; }

work=$(mktemp -d /tmp/trm27k-uplink.XXXXXX)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'listener %s 127.0.0.1\nallow_anonymous true\nsys_interval 5\n' "$port" >"$work/mosquitto.conf"
/usr/sbin/mosquitto -c "$work/mosquitto.conf" 2>"$work/mosquitto.log" &
pids+=($!)
for _ in $(seq 100); do
  mosquitto_sub -p "$port" -t '$SYS/broker/version' -C 1 -W 1 >/dev/null 2>&1 && break
done

# Every message with its arrival time: seconds, topic, payload bytes.
mosquitto_sub -p "$port" -t '#' -F '%U %t %l' >"$work/messages.txt" 2>/dev/null &
pids+=($!)
# The broker's received bytes, every $SYS interval.
mosquitto_sub -p "$port" -t '$SYS/broker/bytes/received' -F '%U %p' >"$work/sys.txt" 2>/dev/null &
pids+=($!)
sleep 1

if [[ "$scenario" == noisy ]]; then echo '{"noise": true}' >"$work/scenario.json"; else echo '{}' >"$work/scenario.json"; fi
start=$(date +%s.%N)
"$monitor" --quiet --site site --mqtt "127.0.0.1:$port" --history "$work/history.db" \
  --sim-scenario "$work/scenario.json" --plugin-stdout /dev/null --log-level off "$@" >/dev/null 2>"$work/monitor.err" &
pids+=($!)
sleep "$seconds"
end=$(date +%s.%N)
sleep 6  # one more $SYS report covers the end
kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true; unset 'pids[-1]'

awk -v start="$start" -v end="$end" -v warmup="$warmup" -v refresh="$refresh" -v scen="$scenario" '
  FNR == NR {  # $SYS samples: the broker bytes received at the first sample after each mark
    if ($1 >= start + warmup && !sysA) { sysA = $2; sysAt = $1 }
    if ($1 >= end && !sysB) { sysB = $2; sysBt = $1 }
    next
  }
  $1 < start || $1 > end || $2 ~ /^\$SYS/ { next }
  {
    bytes = length($2) + $3
    group = $2
    sub(/^trm27k\/site\//, "", group)
    if (group ~ /^homeassistant\//) group = "homeassistant/..."
    else if (group ~ /^[0-9]+\//) { n = split(group, p, "/"); group = "ID/" p[n] }
    if ($1 < start + warmup) {
      startBytes += bytes; startMsgs++
      if (group ~ /^(alarms|ID\/values)$/) refreshBytes += bytes
      next
    }
    win[group] += bytes; cnt[group]++; total += bytes; msgs++
  }
  END {
    span = end - start - warmup
    day = 86400 / span
    printf "scenario %s, window %.0f s after a %d s start, %d messages\n", scen, span, warmup, msgs
    printf "%-28s %10s %10s %12s\n", "topic (ID: any child)", "messages", "bytes", "bytes/day"
    for (g in win) printf "%-28s %10d %10d %12.0f\n", g, cnt[g], win[g], win[g] * day
    printf "steady: %.0f B/day (topic+payload), %.1f B a cycle of 7 s\n", total * day, total * 7 / span
    printf "start: %d messages, %d B (the refresh: %d B)\n", startMsgs, startBytes, refreshBytes
    if (refresh > 0) printf "periodic refresh: %d B every %d s: %.0f B/day\n", refreshBytes, refresh, refreshBytes * 86400 / refresh
    perDay = total * day + (refresh > 0 ? refreshBytes * 86400 / refresh : 0)
    printf "per day: %.0f B (%.2f MB) topic+payload\n", perDay, perDay / 1e6
    if (sysA && sysB) printf "broker bytes received (MQTT packets, all clients): %.0f B/day\n", (sysB - sysA) * 86400 / (sysBt - sysAt)
  }' "$work/sys.txt" "$work/messages.txt"
