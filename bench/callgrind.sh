#!/usr/bin/env bash
# Instructions per position of each benchmark case (or those matching $1):
# callgrind counts one run of the case after a warm-up, inside RunCaseOnce only.
set -euo pipefail
bench=${BENCH:-build/native/bench/ampora-bench}
"$bench" --list | while IFS=$'\t' read -r label positions; do
  [[ -z "${1:-}" || "$label" == *"$1"* ]] || continue
  count=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null --collect-atstart=no \
            --toggle-collect='RunCaseOnce*' "$bench" --once "$label" 2>&1 |
          sed -n 's/.*Collected : \([0-9]*\).*/\1/p')
  awk -v a="$count" -v n="$positions" -v l="$label" \
    'BEGIN { printf "%-70s %10.1f instructions/position\n", l, a / n }'
done
