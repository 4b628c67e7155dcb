#!/usr/bin/env bash
# Benchmarks zol.dll under Wine against the simulated displays and compares every figure with a
# floor taken in the same run. Prints a table and writes build/bench/bench-{full,quick}.json.
#   scripts/bench.sh [--quick]      (full: about 4 minutes; --quick: about 1 minute)
# Needs the native and Windows configurations of scripts/test.sh; builds only what it uses.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

mode=full
quick=()
case "${1:-}" in
  --quick) mode=quick; quick=(--quick) ;;
  "") ;;
  *) echo "usage: scripts/bench.sh [--quick]" >&2; exit 2 ;;
esac
frames=30 keys=40
if [ "$mode" = quick ]; then frames=10 keys=15; fi

jobs=$(nproc)
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs" --target serial_display_sim >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs" --target zol_bench >/dev/null

out=$root/build/bench
mkdir -p "$out"
wine_run=$root/cmake/wine-run.sh
exe=$root/build/windows/bin/hidsim/zol_bench.exe
prefix=${ZOL_WINEPREFIX:-$root/build/wineprefix}
to_windows() { echo "Z:${1//\//\\}"; }

# The first run creates the prefix.
if [ ! -f "$prefix/.zol-ready" ]; then "$wine_run" "$exe" >/dev/null 2>&1 || true; fi
mkdir -p "$prefix/dosdevices"

# COM147 is the bench's own port; no test uses it. The display presses a key every 130 to
# 230 ms once it has seen the floor's frames and the driver's.
com=147
script=$out/display-$mode.script
{
  echo "wait CELLS $((2 * frames)) 600000"
  echo "sleep 300"
  for i in $(seq "$keys"); do
    echo "key F1"
    echo "sleep $((130 + (i * 37) % 100))"
  done
} >"$script"
log=$out/display-$mode.log
"$root/build/native/bin/serial_display_sim" --link "$prefix/dosdevices/com$com" --no-stdin \
  --timeout 900 --stamp --script "$script" >"$log" 2>&1 &
sim_pid=$!
stop_sim() {
  if kill -0 "$sim_pid" 2>/dev/null; then
    kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null || true
  fi
}
trap stop_sim EXIT
for _ in $(seq 100); do
  grep -qx ready "$log" && break
  sleep 0.1
done
grep -qx ready "$log" || { echo "serial_display_sim did not start:" >&2; cat "$log" >&2; exit 1; }

# Wine's own messages (and those of a wineserver this run starts) go to a file of their own.
status=0
WINEDLLOVERRIDES=hid,setupapi=n,b "$wine_run" "$exe" "${quick[@]}" \
  --zol "$(to_windows "$root/build/windows/bin/zol.dll")" \
  --json "$(to_windows "$out/bench-$mode.json")" \
  --serial "COM$com" --sim-log "$(to_windows "$log")" 2>"$out/wine-$mode.log" |
  tee "$out/bench-$mode.txt" || status=$?
if [ "$status" -ne 0 ]; then tail -n 20 "$out/wine-$mode.log" >&2; fi
echo "JSON: build/bench/bench-$mode.json"
exit $status
