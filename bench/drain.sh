#!/usr/bin/env bash
# The outbox drain rate: a local mosquitto on a free port, trm27k-drain fills an
# outbox with COUNT state messages and times it empty. Stopped by process id.
#   bench/drain.sh [BUILD_DIR] [COUNT]
set -euo pipefail
build=${1:-build/bench}
work=$(mktemp -d /tmp/trm27k-drain.XXXXXX); chmod 0777 "$work"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$port" > "$work/m.conf"
/usr/sbin/mosquitto -c "$work/m.conf" 2>/dev/null & broker=$!
sleep 1
"$build/bench/trm27k-drain" "$port" "${2:-5000}" "$work/h.db" || true
kill $broker; wait $broker 2>/dev/null || true
rm -rf "$work"
