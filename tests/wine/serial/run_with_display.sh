#!/usr/bin/env bash
# Runs a Windows test program under Wine against the simulated serial display on a pty.
#   run_with_display.sh --source DIR --com N --exe PROGRAM [--sim-arg ARG]... [--expect LINE]...
#                       [-- PROGRAM-ARG...]
# The display (the native build's serial_display_sim) is linked as COMn in the Wine prefix that
# cmake/wine-run.sh uses; the program gets "COMn" as its first argument. Each --expect LINE must
# appear among the display's output lines afterwards.
set -uo pipefail

source_dir=""
com=""
exe=""
sim_args=()
expects=()
while [ $# -gt 0 ]; do
  case "$1" in
    --source) source_dir=$2; shift 2 ;;
    --com) com=$2; shift 2 ;;
    --exe) exe=$2; shift 2 ;;
    --sim-arg) sim_args+=("$2"); shift 2 ;;
    --expect) expects+=("$2"); shift 2 ;;
    --) shift; break ;;
    *) echo "run_with_display.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done

sim="$source_dir/build/native/bin/serial_display_sim"
if [ ! -x "$sim" ]; then
  echo "FAIL: $sim is missing. The Wine serial tests need the native build:" >&2
  echo "  cmake --preset native && cmake --build --preset native" >&2
  exit 1
fi

wine_run="$source_dir/cmake/wine-run.sh"
prefix=${ZOL_WINEPREFIX:-$source_dir/build/wineprefix}
# The first run creates the prefix; listing the tests is a cheap way to get there.
if [ ! -f "$prefix/.zol-ready" ]; then
  "$wine_run" "$exe" --gtest_list_tests >/dev/null 2>&1 || true
fi
mkdir -p "$prefix/dosdevices"

log=$(mktemp "${TMPDIR:-/tmp}/serial_display_sim.XXXXXX")
"$sim" --link "$prefix/dosdevices/com$com" --no-stdin --timeout 600 "${sim_args[@]}" >"$log" 2>&1 &
sim_pid=$!
stop_sim() {
  if kill -0 "$sim_pid" 2>/dev/null; then
    kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
  fi
}
trap 'stop_sim; rm -f "$log"' EXIT

for _ in $(seq 100); do
  grep -qx ready "$log" && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
if ! grep -qx ready "$log"; then
  echo "FAIL: serial_display_sim did not start:" >&2
  cat "$log" >&2
  exit 1
fi

"$wine_run" "$exe" "COM$com" "$@"
status=$?
sleep 0.2
stop_sim

for line in "${expects[@]}"; do
  if ! grep -qxF "$line" "$log"; then
    echo "FAIL: the display never printed: $line" >&2
    status=1
  fi
done
if [ $status -ne 0 ]; then
  echo "--- serial_display_sim output ---"
  cat "$log"
fi
exit $status
