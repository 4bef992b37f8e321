#!/usr/bin/env bash
# Instructions per position of each benchmark case (or those matching $1), from
# callgrind's count of one run minus the count of the same run's set-up alone.
set -euo pipefail
bench=${BENCH:-build/native/bench/ampora-bench}
"$bench" --list | while IFS=$'\t' read -r label positions; do
  [[ -z "${1:-}" || "$label" == *"$1"* ]] || continue
  count() { valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 | sed -n 's/.*Collected : \([0-9]*\).*/\1/p'; }
  with=$(count "$bench" --once "$label")
  without=$(count "$bench" --once "(set-up only)" || true)   # that run finds no case and exits 2
  awk -v a="$with" -v b="$without" -v n="$positions" -v l="$label" \
    'BEGIN { printf "%-70s %8.1f instructions/position\n", l, (a - b) / n }'
done
