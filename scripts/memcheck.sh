#!/usr/bin/env bash
# valgrind memcheck of the monitor polling its built-in simulator: fails on
# any invalid access or leaked block.
#   scripts/memcheck.sh [CYCLES] [BUILD_DIR]      (defaults: 50, build/default)
set -euo pipefail
cycles=${1:-50}
build=${2:-build/default}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
valgrind --quiet --leak-check=full --errors-for-leak-kinds=definite,indirect,possible \
  --error-exitcode=9 "$build/tools/monitor/trm27k-monitor" --fast --quiet --cycles "$cycles" \
  --plugin-stdout /dev/null --history "$dir/history.db" --events "$dir/events.jsonl"
echo "memcheck: $(grep -c '"event":"cycle"' "$dir/events.jsonl") cycles, no invalid access, no leak"
