#!/usr/bin/env bash
# Runs every fuzz target of build/fuzz for a while, seeded with its corpus in fuzz/corpus/<name>/.
#   scripts/fuzz.sh [--seconds N] [--runs N] [--jobs N] [target...]
# Up to --jobs targets (default: one per core) run side by side, each on one core. New inputs go
# to build/fuzz/corpus/<name>/ (the repository's corpus stays as it is; merge into it with
# -merge=1). Prints one line per target, in the order given, and a closing "N passed, N failed"
# line.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=20
runs=""
jobs=$(nproc)
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
if [ ${#targets[@]} -eq 0 ]; then
  for f in fuzz/*_fuzz.cpp; do [ -e "$f" ] && targets+=("$(basename "$f" .cpp)"); done
fi
mkdir -p build/fuzz/artifacts

# One target; its exit status is the fuzzer's.
run_target() {
  local t=$1 corpus=fuzz/corpus/${1%_fuzz} scratch=build/fuzz/corpus/${1%_fuzz}
  mkdir -p "$corpus" "$scratch"
  local limit=(-max_total_time="$seconds")
  [ -n "$runs" ] && limit=(-runs="$runs")
  # Scripts longer than 256 bytes add little and cost many ticks. Allocation stacks are kept
  # short for speed: rerun a finding without ASAN_OPTIONS for full reports.
  ASAN_OPTIONS=${ASAN_OPTIONS:-malloc_context_size=2} nice -n 19 build/fuzz/bin/"$t" \
    "${limit[@]}" -max_len=256 -print_final_stats=1 -artifact_prefix=build/fuzz/artifacts/ \
    "$scratch" "$corpus" >"build/fuzz/$t.log" 2>&1
}

pids=()
statuses=()
for i in "${!targets[@]}"; do
  if [ "$i" -ge "$jobs" ]; then
    wait "${pids[$((i - jobs))]}"
    statuses[i - jobs]=$?
  fi
  run_target "${targets[$i]}" &
  pids+=($!)
done
for i in "${!pids[@]}"; do
  if [ -z "${statuses[$i]:-}" ]; then
    wait "${pids[$i]}"
    statuses[i]=$?
  fi
done

passed=0
failed=0
for i in "${!targets[@]}"; do
  t=${targets[$i]}
  log=build/fuzz/$t.log
  if [ "${statuses[$i]}" -eq 0 ]; then
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
