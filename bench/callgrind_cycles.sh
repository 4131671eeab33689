#!/usr/bin/env bash
# Instructions per poll cycle of the reference system, counted by callgrind:
# trm27k-cycles runs N1 and then N2 cycles, and the difference of the two
# totals over N2 - N1 is the cost of one cycle, start-up cancelled.
#   bench/callgrind_cycles.sh [BUILD_DIR] [N1] [N2] [--line]
set -euo pipefail

build=${1:-build/bench}
n1=${2:-20}
n2=${3:-120}
mode=${4:-}
driver="$build/bench/trm27k-cycles"
[[ -x "$driver" ]] || { echo "callgrind_cycles: $driver not built" >&2; exit 1; }
command -v valgrind >/dev/null || { echo "callgrind_cycles: valgrind is not installed" >&2; exit 1; }
(( n2 > n1 )) || { echo "callgrind_cycles: N2 must exceed N1" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Total instructions (Ir) of one run of `cycles` cycles.
total_for() {
    local cycles=$1 out="$work/callgrind.$1"
    valgrind --tool=callgrind --callgrind-out-file="$out" "$driver" "$cycles" $mode \
        >/dev/null 2>"$work/log.$cycles" || { cat "$work/log.$cycles" >&2; exit 1; }
    awk '/^(summary|totals):/ { print $2; exit }' "$out"
}

t1=$(total_for "$n1")
t2=$(total_for "$n2")
per_cycle=$(( (t2 - t1) / (n2 - n1) ))
echo "callgrind: ${per_cycle} instructions per cycle${mode:+ ($mode)} (N1=$n1: $t1, N2=$n2: $t2)"
