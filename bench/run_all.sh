#!/usr/bin/env bash
# Every figure of docs/performance.md from one build: the Google Benchmark
# suite, the callgrind instruction count per cycle, and the end-to-end line
# ratio, and the storage writes a day (paced: half an hour). BENCH_ARGS
# replaces the suite's options, LINE_CYCLES the number of end-to-end cycles,
# WRITE_SECONDS the measured time of the write budget.
#   bench/run_all.sh [BUILD_DIR]
set -euo pipefail

build=${1:-build/bench}
here=$(dirname "$0")
default_args="--benchmark_repetitions=3 --benchmark_report_aggregates_only=true"

echo "== machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p')"
echo "== Google Benchmark (per cycle, per call, per frame; counters are per iteration)"
# shellcheck disable=SC2086  # the options are meant to split
"$build/bench/trm27k-bench" ${BENCH_ARGS:-$default_args}
echo "== callgrind"
"$here/callgrind_cycles.sh" "$build"
"$here/callgrind_cycles.sh" "$build" 20 120 --line
echo "== monitor against the simulator, paced at 9600 baud"
"$here/line_ratio.sh" "$build" "${LINE_CYCLES:-4}"
echo "== storage writes a day, service configuration, noisy scenario, paced"
"$here/write_budget.sh" "$build" "${WRITE_SECONDS:-1840}"
