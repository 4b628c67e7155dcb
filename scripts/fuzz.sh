#!/usr/bin/env bash
# Runs every fuzz target of build/fuzz for a while, seeded with its corpus in fuzz/corpus/<name>/.
#   scripts/fuzz.sh [--seconds N] [--runs N] [target...]
# New inputs go to build/fuzz/corpus/<name>/ (the repository's corpus stays as it is; merge
# into it with -merge=1). Prints one line per target and a closing "N passed, N failed" line.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=20
runs=""
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
if [ ${#targets[@]} -eq 0 ]; then
  for f in fuzz/*_fuzz.cpp; do [ -e "$f" ] && targets+=("$(basename "$f" .cpp)"); done
fi
passed=0
failed=0
mkdir -p build/fuzz/artifacts
for t in "${targets[@]}"; do
  corpus=fuzz/corpus/${t%_fuzz}
  scratch=build/fuzz/corpus/${t%_fuzz}
  mkdir -p "$corpus" "$scratch"
  limit=(-max_total_time="$seconds")
  [ -n "$runs" ] && limit=(-runs="$runs")
  log=build/fuzz/$t.log
  # Scripts longer than 256 bytes add little and cost many ticks. Allocation stacks are kept
  # short for speed: rerun a finding without ASAN_OPTIONS for full reports.
  if ASAN_OPTIONS=${ASAN_OPTIONS:-malloc_context_size=2} nice -n 19 build/fuzz/bin/"$t" \
    "${limit[@]}" -max_len=256 -print_final_stats=1 -artifact_prefix=build/fuzz/artifacts/ \
    "$scratch" "$corpus" >"$log" 2>&1; then
    passed=$((passed + 1))
    runs_done=$(grep -Eo 'number_of_executed_units: *[0-9]+' "$log" | grep -Eo '[0-9]+$')
    rate=$(grep -Eo 'average_exec_per_sec: *[0-9]+' "$log" | grep -Eo '[0-9]+$')
    echo "$t: ok, ${runs_done:-?} runs, ${rate:-?} per second"
  else
    failed=$((failed + 1))
    echo "$t: FAILED (see $log)"
    tail -n 30 "$log"
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
