#!/usr/bin/env bash
# Builds the fuzz preset and runs every libFuzzer target for a bounded time.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]      (default 30)
# Environment:
#   FUZZ_JOBS     targets run at once (default 2)
#   FUZZ_TARGETS  the targets to run, separated by blanks (default: all); an entry
#                 TARGET:RUNS bounds that target by its own count of executions
#   FUZZ_RUNS     executions per target; when set it bounds each run instead of the time
# Each target starts from the generated seeds and from what earlier runs kept
# in build/fuzz/corpus/<target>; its log is build/fuzz/logs/<target>.log and
# any input that crashed it lands in build/fuzz/findings/<target>/. Prints per
# target the executions, the speed, the coverage, the corpus size and the
# outcome; exits non-zero when any target found something.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-30}"
jobs="${FUZZ_JOBS:-2}"
build=build/fuzz
if [[ ! "$seconds" =~ ^[0-9]+$ ]]; then
    echo "fuzz: SECONDS_PER_TARGET must be a whole number" >&2
    exit 2
fi

bash scripts/install-deps.sh --fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"

mkdir -p "$build/corpus" "$build/logs" "$build/findings"
# Seeds and outcomes are this run's own, so two runs on different targets may
# share the build.
seeds=$(mktemp -d "$build/seeds.XXXXXX")
status_file=$(mktemp "$build/logs/status.XXXXXX")
trap 'rm -rf "$seeds" "$status_file"' EXIT
"$build/fuzz/trm27k-fuzz-seeds" "$seeds" >/dev/null  # its summary is on stderr

targets="${FUZZ_TARGETS:-$(cat "$build/fuzz/fuzzers.txt")}"

# The target an entry names (an entry is TARGET or TARGET:RUNS).
target_name() { echo "${1%%:*}"; }

# Runs one target (TARGET or TARGET:RUNS); its log keeps libFuzzer's output
# and final statistics.
run_target() {
    local t runs="${FUZZ_RUNS:-}"
    t=$(target_name "$1")
    [[ "$1" == *:* ]] && runs="${1#*:}"
    local bound="-max_total_time=$seconds"
    [[ -n "$runs" ]] && bound="-runs=$runs"
    mkdir -p "$build/corpus/$t" "$build/findings/$t"
    "$build/fuzz/$t" "$bound" -print_final_stats=1 -timeout=10 \
        -rss_limit_mb=2048 -artifact_prefix="$build/findings/$t/" \
        "$build/corpus/$t" "$seeds/$t" >"$build/logs/$t.log" 2>&1
}

# The first line of the log that says what went wrong.
first_report() {
    local pattern='^==[0-9]+==ERROR|deadly signal|fuzz check failed|differs from|runtime error'
    grep -m1 -E "$pattern|ERROR: libFuzzer" "$1" || echo 'see the log'
}

# One line per target from its log.
report_target() {
    local t="$1" status="$2" log="$build/logs/$1.log"
    local runs speed cov corpus outcome
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    corpus=$(find "$build/corpus/$t" -type f | wc -l)
    outcome="ok"
    if [[ "$status" != 0 ]]; then
        outcome="FINDING (exit $status): $(first_report "$log")"
        outcome+=" input: $(ls "$build/findings/$t" | head -1)"
    fi
    printf '%-22s %12s execs %8s/s  cov %5s  corpus %5s  %s\n' \
        "$t" "${runs:-?}" "${speed:-?}" "${cov:-?}" "$corpus" "$outcome"
}

start_target() {
    local t
    t=$(target_name "$1")
    ( if run_target "$1"; then echo "$t 0"; else echo "$t $?"; fi >>"$status_file" ) &
}

bound_text="${seconds} s"
[[ -n "${FUZZ_RUNS:-}" ]] && bound_text="${FUZZ_RUNS} runs"
echo "fuzz: running each target for $bound_text (or the runs its entry gives), $jobs at once"
running=0
for t in $targets; do
    if (( running >= jobs )); then
        wait -n || true
        running=$((running - 1))
    fi
    start_target "$t"
    running=$((running + 1))
done
wait || true

failed=0
for entry in $targets; do
    t=$(target_name "$entry")
    status=$(awk -v t="$t" '$1 == t {print $2}' "$status_file")
    report_target "$t" "${status:-1}"
    [[ "${status:-1}" == 0 ]] || failed=1
done
if (( failed )); then
    echo "fuzz: findings above; logs in $build/logs, inputs in $build/findings" >&2
    exit 1
fi
echo "fuzz: no findings"
