#!/usr/bin/env bash
# Benchmarks zol.dll under Wine against the simulated displays and compares every figure with a
# floor taken in the same run. Prints a table and writes build/bench/bench-{full,quick}.json.
#   scripts/bench.sh [--quick] [--zol PATH] [--before PATH] [--groups hid,serial,hidpc]
#     --quick        fewer samples and shorter scenarios (about 3 minutes instead of 11 per DLL)
#     --zol PATH     the DLL to time (default: build/windows/bin/zol.dll of this tree)
#     --before PATH  time this DLL first (an older build), then the one above, and print both
#                    side by side (build/bench/bench-MODE-compare.txt)
#     --groups LIST  only these groups of figures (default: all)
# Needs the native and Windows configurations of scripts/test.sh; builds only what it uses.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

usage() {
  echo "usage: scripts/bench.sh [--quick] [--zol PATH] [--before PATH] [--groups LIST]" >&2
  exit 2
}
mode=full
quick=()
zol=""
before=""
groups=()
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) mode=quick; quick=(--quick); shift ;;
    --zol) [ $# -ge 2 ] || usage; zol=$(realpath "$2"); shift 2 ;;
    --before) [ $# -ge 2 ] || usage; before=$(realpath "$2"); shift 2 ;;
    --groups) [ $# -ge 2 ] || usage; groups=(--groups "$2"); shift 2 ;;
    *) usage ;;
  esac
done

jobs=$(nproc)
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs" --target serial_display_sim >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs" --target zol_bench >/dev/null
if [ -z "$zol" ]; then zol=$root/build/windows/bin/zol.dll; fi
for dll in "$zol" ${before:+"$before"}; do
  [ -f "$dll" ] || { echo "scripts/bench.sh: no DLL at $dll" >&2; exit 1; }
done

out=$root/build/bench
mkdir -p "$out"
exe=$root/build/windows/bin/hidsim/zol_bench.exe
to_windows() { echo "Z:${1//\//\\}"; }

# Runs the benchmark on one DLL, in the prefix of the test-only HID stack (tests/wine/hid; the
# build of zol_bench made it ready). The serial display plays on a pty linked as COM147 (the
# bench's own port; no test uses it), under the program's control (it ends and restarts the
# display for the port that vanishes); its stamped log is kept as display-*.log. Wine's own
# messages go to wine-*.log.
run_one() {
  local name=$1 dll=$2 suffix=$3
  local status=0
  ZOL_E2E_SIM_TIMEOUT=7200 ZOL_WINEPREFIX=$root/build/windows/wineprefix-hidsim \
    "$root/scripts/with-serial-display.sh" --com 147 --control --arg --stamp \
    -- "$root/cmake/wine-run.sh" "$exe" "${quick[@]}" ${groups[@]+"${groups[@]}"} \
    --zol "$(to_windows "$dll")" --run "$name" \
    --json "$(to_windows "$out/bench-$mode$suffix.json")" \
    --keep-sim-log "$(to_windows "$out/display-$mode$suffix.log")" \
    2>"$out/wine-$mode$suffix.log" | tee "$out/bench-$mode$suffix.txt" || status=$?
  if [ "$status" -ne 0 ]; then tail -n 20 "$out/wine-$mode$suffix.log" >&2; fi
  return "$status"
}

if [ -z "$before" ]; then
  run_one "" "$zol" ""
  echo "JSON: build/bench/bench-$mode.json"
  exit 0
fi
run_one before "$before" -before
run_one after "$zol" -after
python3 "$root/scripts/bench_compare.py" "$out/bench-$mode-before.json" \
  "$out/bench-$mode-after.json" | tee "$out/bench-$mode-compare.txt"
echo "JSON: build/bench/bench-$mode-before.json, build/bench/bench-$mode-after.json"
