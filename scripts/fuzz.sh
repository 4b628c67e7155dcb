#!/usr/bin/env bash
# Runs every fuzz target of build/fuzz for a while on its corpus in fuzz/corpus/<name>/.
#   scripts/fuzz.sh [--seconds N] [--runs N] [target...]
# Prints one line per target and a closing "N passed, N failed" line.
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
  mkdir -p "$corpus"
  limit=(-max_total_time="$seconds")
  [ -n "$runs" ] && limit=(-runs="$runs")
  log=build/fuzz/$t.log
  if build/fuzz/bin/"$t" "${limit[@]}" -artifact_prefix=build/fuzz/artifacts/ "$corpus" >"$log" 2>&1; then
    passed=$((passed + 1))
    echo "$t: ok, $(grep -Eo 'Done [0-9]+ runs in [0-9]+ second' "$log" | tail -n 1)"
  else
    failed=$((failed + 1))
    echo "$t: FAILED (see $log)"
    tail -n 30 "$log"
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
