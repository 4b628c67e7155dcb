#!/usr/bin/env bash
# Runs a Windows test program under Wine against serial_display_sim on a pty linked as COMn,
# with the display under the program's control:
#   run_with_sim_control.sh --source DIR --com N --exe PROGRAM [--print-tx] [--sim-option OPT]...
#                           [-- PROGRAM-ARG...]
# The display prints only what it receives unless --print-tx; each --sim-option is passed on to
# serial_display_sim (e.g. --stamp).
# The program finds, through ZOL_E2E_CONTROL (a Windows path to a folder):
#   ctl      a FIFO: each line written is a command of the display (see serial_display_sim --help)
#   log      what the display printed, every run of it appended
#   restart  created by the program after a "quit" command: the display starts again on the
#            same COM link (a new pty), and prints "ready" once more
# and ZOL_E2E_COM=COMn. The display ends after ZOL_E2E_SIM_TIMEOUT seconds (600).
set -uo pipefail

source_dir=""
com=""
exe=""
quiet_tx=(--quiet-tx)
sim_options=()
while [ $# -gt 0 ]; do
  case "$1" in
    --source) source_dir=$2; shift 2 ;;
    --com) com=$2; shift 2 ;;
    --exe) exe=$2; shift 2 ;;
    --print-tx) quiet_tx=(); shift ;;
    --sim-option) sim_options+=("$2"); shift 2 ;;
    --) shift; break ;;
    *) echo "run_with_sim_control.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done

sim="$source_dir/build/native/bin/serial_display_sim"
if [ ! -x "$sim" ]; then
  echo "FAIL: $sim is missing; build the native preset first." >&2
  exit 1
fi
wine_run="$source_dir/cmake/wine-run.sh"
prefix=${ZOL_WINEPREFIX:-$source_dir/build/wineprefix}
if [ ! -f "$prefix/.zol-ready" ]; then
  "$wine_run" "$exe" --gtest_list_tests >/dev/null 2>&1 || true
fi
mkdir -p "$prefix/dosdevices"

dir=$(mktemp -d "${TMPDIR:-/tmp}/zol_e2e.XXXXXX")
mkfifo "$dir/ctl"
: >"$dir/log"

# Holding the FIFO open for reading and writing keeps it from ever reaching its end, so the
# display serves until told to quit, and nobody blocks opening it.
exec 3<>"$dir/ctl"
(
  while [ ! -f "$dir/stop" ]; do
    "$sim" --link "$prefix/dosdevices/com$com" --timeout "${ZOL_E2E_SIM_TIMEOUT:-600}" \
      ${quiet_tx[@]+"${quiet_tx[@]}"} ${sim_options[@]+"${sim_options[@]}"} <&3 >>"$dir/log" 2>&1
    echo "sim-exit" >>"$dir/log"
    while [ ! -f "$dir/restart" ] && [ ! -f "$dir/stop" ]; do sleep 0.05; done
    rm -f "$dir/restart"
  done
) &
supervisor=$!
cleanup() {
  touch "$dir/stop"
  echo quit >&3
  wait "$supervisor" 2>/dev/null
  exec 3>&-
  rm -rf "$dir"
}
trap cleanup EXIT

for _ in $(seq 100); do
  grep -qx ready "$dir/log" && break
  sleep 0.1
done
if ! grep -qx ready "$dir/log"; then
  echo "FAIL: serial_display_sim did not start:" >&2
  cat "$dir/log" >&2
  exit 1
fi

export ZOL_E2E_CONTROL="Z:${dir//\//\\}"
export ZOL_E2E_COM="COM$com"
"$wine_run" "$exe" "$@"
status=$?
if [ $status -ne 0 ]; then
  echo "--- serial_display_sim output (last 60 lines) ---"
  tail -n 60 "$dir/log"
fi
exit $status
