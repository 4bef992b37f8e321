#!/usr/bin/env bash
# Instructions per position of each benchmark case (or those matching $1):
# callgrind counts one run of the case after a warm-up, inside RunCaseOnce only.
# BENCH names the program and its arguments (default ampora-bench); it must
# answer --list with "label<TAB>positions" lines and run one case with --once LABEL,
# as ampora-bench and ampora-compare (bench/compare_numpy.py passes its recording) do.
set -euo pipefail
read -r -a bench <<< "${BENCH:-build/native/bench/ampora-bench}"
"${bench[@]}" --list | while IFS=$'\t' read -r label positions; do
  [[ -z "${1:-}" || "$label" == *"$1"* ]] || continue
  count=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null --collect-atstart=no \
            --toggle-collect='RunCaseOnce*' "${bench[@]}" --once "$label" 2>&1 </dev/null |
          sed -n 's/.*Collected : \([0-9]*\).*/\1/p')
  awk -v a="$count" -v n="$positions" -v l="$label" \
    'BEGIN { printf "%-70s %10.1f instructions/position\n", l, a / n }'
done
