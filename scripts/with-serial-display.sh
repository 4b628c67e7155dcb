#!/usr/bin/env bash
# Runs a command while a simulated serial display serves a pty linked as a COM port of the
# Wine prefix, and ends the display after it:
#   with-serial-display.sh [OPTION]... -- COMMAND [ARG]...
#   with-serial-display.sh --free-com    prints the first free number among COM60-COM99
# Options:
#   --com N           the COM number (default: the first free one among 60-99)
#   --display PROGRAM the display (default: the native build's serial_display_sim)
#   --arg ARG         an argument for the display; repeatable
#   --control         the display under the command's control (below); without it the display
#                     reads no input and serves until the command has ended
#   --log FILE        keep the display's output in FILE (default: a temporary file)
#   --echo LABEL      also print the display's lines as they come, each after LABEL
#   --expect LINE     afterwards LINE must be among the display's lines; repeatable
#   --status-file F   write the display's exit code into F
# The prefix is $ZOL_WINEPREFIX or build/wineprefix (made ready first). The command finds
# ZOL_WINEPREFIX, ZOL_E2E_COM=COMn and, with --control, ZOL_E2E_CONTROL (a Windows path to a
# folder, see testing/serial_display_client.h) holding:
#   ctl      a FIFO: each line written is a command of the display (serial_display_sim --help)
#   log      what the display printed, every run of it appended
#   restart  created by the command after a "quit" command: the display starts again on the
#            same COM link (a new pty) and prints "ready" once more
# The display ends after ZOL_E2E_SIM_TIMEOUT seconds (600). The exit code is the command's, or
# 1 when the display did not start or printed no line that an --expect named.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
me=with-serial-display.sh

prefix=${ZOL_WINEPREFIX:-$root/build/wineprefix}
free_com() {
  local n link
  for n in $(seq 60 99); do
    link=$prefix/dosdevices/com$n
    # A dangling link is free again.
    if [ ! -e "$link" ]; then
      echo "$n"
      return 0
    fi
  done
  return 1
}

com=""
display=$root/build/native/bin/serial_display_sim
display_args=()
control=0
log=""
label=""
expects=()
status_file=""
while [ $# -gt 0 ]; do
  case "$1" in
    --free-com) free_com || { echo "$me: no free COM port among COM60-COM99" >&2; exit 1; }; exit 0 ;;
    --com) com=$2; shift 2 ;;
    --display) display=$2; shift 2 ;;
    --arg) display_args+=("$2"); shift 2 ;;
    --control) control=1; shift ;;
    --log) log=$2; shift 2 ;;
    --echo) label=$2; shift 2 ;;
    --expect) expects+=("$2"); shift 2 ;;
    --status-file) status_file=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "$me: unknown argument $1" >&2; exit 2 ;;
  esac
done
[ $# -gt 0 ] || { echo "$me: no command after --" >&2; exit 2; }
if [ ! -x "$display" ]; then
  echo "FAIL: $display is missing; build the native preset first:" >&2
  echo "  cmake --preset native && cmake --build --preset native" >&2
  exit 1
fi

export ZOL_WINEPREFIX=$prefix
[ -f "$prefix/.zol-ready" ] || "$root/cmake/wine-run.sh" >/dev/null 2>&1 || true
mkdir -p "$prefix/dosdevices"
if [ -z "$com" ]; then
  com=$(free_com) || { echo "$me: no free COM port among COM60-COM99" >&2; exit 1; }
fi
link=$prefix/dosdevices/com$com
timeout=${ZOL_E2E_SIM_TIMEOUT:-600}

dir=$(mktemp -d "${TMPDIR:-/tmp}/zol_display.XXXXXX")
if [ $control -eq 1 ]; then
  log=$dir/log
  mkfifo "$dir/ctl"
  # Holding the FIFO open for reading and writing keeps it from ever reaching its end, so the
  # display serves until told to quit, and nobody blocks opening it.
  exec 3<>"$dir/ctl"
  : >"$log"
  (
    while [ ! -f "$dir/stop" ]; do
      "$display" --link "$link" --timeout "$timeout" ${display_args[@]+"${display_args[@]}"} \
        <&3 >>"$log" 2>&1
      echo "sim-exit" >>"$log"
      while [ ! -f "$dir/restart" ] && [ ! -f "$dir/stop" ]; do sleep 0.05; done
      rm -f "$dir/restart"
    done
  ) &
else
  log=${log:-$dir/log}
  : >"$log"
  "$display" --link "$link" --no-stdin --timeout "$timeout" \
    ${display_args[@]+"${display_args[@]}"} >>"$log" 2>&1 &
fi
display_pid=$!
echo_pid=""
if [ -n "$label" ]; then
  tail -n +1 -f --pid="$display_pid" "$log" | sed -u "s/^/$label/" &
  echo_pid=$!
fi

display_status=""
stop_display() {
  [ -n "$display_status" ] && return
  if [ $control -eq 1 ]; then
    touch "$dir/stop"
    echo quit >&3
  else
    kill -TERM "$display_pid" 2>/dev/null
  fi
  wait "$display_pid" 2>/dev/null
  display_status=$?
  [ $control -eq 1 ] && exec 3>&-
  [ -n "$echo_pid" ] && wait "$echo_pid" 2>/dev/null
  [ -n "$status_file" ] && echo "$display_status" >"$status_file"
}
trap 'stop_display; rm -rf "$dir"' EXIT

for _ in $(seq 200); do
  grep -qx ready "$log" && break
  kill -0 "$display_pid" 2>/dev/null || break
  sleep 0.1
done
if ! grep -qx ready "$log"; then
  echo "FAIL: $(basename "$display") did not start:" >&2
  cat "$log" >&2
  exit 1
fi

export ZOL_E2E_COM="COM$com"
[ $control -eq 1 ] && export ZOL_E2E_CONTROL="Z:${dir//\//\\}"
"$@"
status=$?
# What the display got last is printed before it ends.
sleep 0.5
stop_display

for line in ${expects[@]+"${expects[@]}"}; do
  if ! grep -qxF -- "$line" "$log"; then
    echo "FAIL: the display never printed: $line" >&2
    status=1
  fi
done
if [ $status -ne 0 ]; then
  echo "--- $(basename "$display") output (last 60 lines) ---"
  tail -n 60 "$log"
fi
exit $status
