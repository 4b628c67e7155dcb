#!/usr/bin/env bash
# The driver end to end with nothing but this machine: a virtual braille display on a pty,
# linked as a COM port of the project's Wine prefix, and the test host zolhost driving
# build/windows/bin/zol.dll against it.
#   scripts/demo.sh                the scripted demo, both sides' output labelled
#   scripts/demo.sh --check        the same, then check what each side saw; exit 1 on a miss
#   scripts/demo.sh --interactive  both sides open for you to type into (tmux when present)
#   scripts/demo.sh --hid          the display as the 40-cell USB model instead of on the
#                                  serial port (a bridge under Wine serves its device file), in
#                                  the prefix of the test-only HID stack
#                                  (build/windows/wineprefix-hidsim)
#   scripts/demo.sh --no-build     skip setup and build (with any of the above)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

mode=demo
build=1
kind=serial
for arg in "$@"; do
  case "$arg" in
    --check) mode=check ;;
    --interactive) mode=interactive ;;
    --no-build) build=0 ;;
    --hid) kind=hid ;;
    -h | --help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo.sh: unknown argument $arg (see --help)" >&2; exit 2 ;;
  esac
done

if [ $build -eq 1 ]; then
  scripts/setup.sh
  echo "== building (native and windows presets) =="
  mkdir -p build
  { cmake --preset native && cmake --build --preset native -j 2 &&
    cmake --preset windows && cmake --build --preset windows -j 2; } >build/demo-build.log 2>&1 || {
    cat build/demo-build.log; echo "demo: the build failed" >&2; exit 1; }
fi

display_exe=$root/build/native/bin/virtual_display
host_exe=$root/build/windows/bin/zolhost.exe
driver=$root/build/windows/bin/zol.dll
for file in "$display_exe" "$host_exe" "$driver"; do
  [ -f "$file" ] || { echo "demo: $file is missing (build first)" >&2; exit 1; }
done
wine_run=$root/cmake/wine-run.sh
if [ "$kind" = hid ]; then
  # The test-only hid.dll and setupapi.dll in the system directory of a prefix of their own,
  # where zol.dll loads them from; they present the bridge's pipe as the display's HID
  # interface. The bridge and zolhost must share the prefix (its pipes and COM links).
  prefix=$root/build/windows/wineprefix-hidsim
  "$root/tests/wine/hid/hidsim_prefix.sh" "$prefix" "$root/build/windows/hidsim-dlls" >/dev/null ||
    { echo "demo: the prefix of the test-only HID stack could not be made ready" >&2; exit 1; }
else
  prefix=${ZOL_WINEPREFIX:-$root/build/wineprefix}
  [ -f "$prefix/.zol-ready" ] || "$wine_run" >/dev/null 2>&1 || true
fi
export ZOL_WINEPREFIX=$prefix
with_display=$root/scripts/with-serial-display.sh
driver_win="Z:${driver//\//\\}"
display_args=()
pipe=""
hid_devices=""  # what the test-only hid.dll presents to zolhost
if [ "$kind" = hid ]; then
  pipe="\\\\.\\pipe\\zol-demo-$$"
  display_args=(--hid40)
  hid_devices="ZOL_HIDSIM_DEVICES=$pipe|4d8|abd7|f100|9|9"
fi
host_env=(env "ZOL_WINEPREFIX=$prefix" ${hid_devices:+"$hid_devices"})
# The bridge between the display on COMn and the pipe the test-only hid.dll presents.
bridge_cmd() {
  bridge=(env "ZOL_WINEPREFIX=$prefix" "$wine_run" "$root/build/windows/bin/vdisplay_hid_bridge.exe"
    --port "$1" --pipe "$pipe" --timeout 900)
}

if [ "$mode" = interactive ]; then
  com=$("$with_display" --free-com) || exit 1
  mkdir -p "$prefix/dosdevices"
  display_cmd=("$display_exe" --link "$prefix/dosdevices/com$com" "${display_args[@]}")
  host_cmd=("${host_env[@]}" "$wine_run" "$host_exe" --driver "$driver_win" --port "COM$com")
  bridge_cmd "COM$com"
  if [ "$kind" = hid ] && ! { command -v tmux >/dev/null && [ -t 0 ]; }; then
    echo "The HID model needs the bridge as well; run it in a third terminal before the host:"
    echo "  $(printf '%q ' "${bridge[@]}")"
  fi
  if command -v tmux >/dev/null && [ -t 0 ]; then
    session=zol-demo-$$
    tmux new-session -d -s "$session" "$(printf '%q ' "${display_cmd[@]}"); read -rp 'display ended; Enter closes this pane'"
    sleep 1
    if [ "$kind" = hid ]; then
      tmux split-window -v -l 4 -t "$session" "$(printf '%q ' "${bridge[@]}"); read -rp 'bridge ended; Enter closes this pane'"
      sleep 3
    fi
    tmux split-window -v -t "$session":0.0 "$(printf '%q ' "${host_cmd[@]}"); read -rp 'host ended; Enter closes this pane'"
    tmux select-pane -t "$session":0.0
    echo "Top pane: the virtual display (type help; F1, cell 5, chord 125, type hello, quit)."
    echo "Bottom pane: zolhost (type help; write Hello, clear, quit). Ctrl-b o moves between panes."
    tmux attach -t "$session"
  else
    cat <<TEXT
The virtual display runs here, linked as COM$com. In a second terminal, start the host:

  $(printf '%q ' "${host_cmd[@]}")

Then type host commands there (help; write Hello, braille!; clear; quit) and display commands
here (help; F1; cell 5; chord 125; type hello; show; quit).
TEXT
    "${display_cmd[@]}"
  fi
  exit 0
fi

logs=$(mktemp -d "${TMPDIR:-/tmp}/zol-demo.XXXXXX")
finish() {
  local pid
  pid=$(cat "$logs/bridge.pid" 2>/dev/null)
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && kill -TERM "$pid" 2>/dev/null
  rm -rf "$logs"
}
trap finish EXIT

suffix=""
[ "$kind" = hid ] && suffix=-hid

# The host side, run by with-serial-display.sh while the display serves ZOL_E2E_COM: for the
# HID model the bridge first, then zolhost with its output labelled as it comes. The COM name
# goes to com, the bridge's pid and, once it ends, its exit code to bridge.pid and
# bridge.status.
host_side() {
  echo "$ZOL_E2E_COM" >"$logs/com"
  if [ "$kind" = hid ]; then
    bridge_cmd "$ZOL_E2E_COM"
    (
      "${bridge[@]}" >"$logs/bridge.log" 2>"$logs/bridge.err" &
      echo $! >"$logs/bridge.pid"
      wait $!
      echo $? >"$logs/bridge.status"
    ) &
    for _ in $(seq 600); do
      grep -q "bridge ready" "$logs/bridge.log" 2>/dev/null && break
      [ -f "$logs/bridge.status" ] && break
      sleep 0.1
    done
    sed 's/^/bridge:  /' "$logs/bridge.log" | tr -d '\r'
    grep -q "bridge ready" "$logs/bridge.log" || { echo "demo: the HID bridge did not start" >&2; return 1; }
  fi
  env ${hid_devices:+"$hid_devices"} "$wine_run" "$host_exe" --driver "$driver_win" --port "$ZOL_E2E_COM" \
    --script "scripts/demo/host$suffix.script" >"$logs/host.raw" 2>&1 &
  local host_pid=$! host_status
  # Wine's helper processes may keep the output open after zolhost ends: follow the file, not a
  # pipe, and stop with zolhost itself.
  tail -n +1 -f --pid="$host_pid" "$logs/host.raw" | sed -u 's/\r$//; s/^/host:    /' &
  local label_pid=$!
  wait "$host_pid"
  host_status=$?
  wait "$label_pid"
  tr -d '\r' <"$logs/host.raw" >"$logs/host.log"
  return "$host_status"
}

echo "== demo: virtual display ($kind), zolhost with $driver =="
launch=(--display "$display_exe" --log "$logs/display.log" --echo "display: "
  --status-file "$logs/display.status")
[ "$kind" = hid ] && launch+=(--arg --hid40)
launch+=(--arg --script --arg "scripts/demo/display$suffix.script")
export kind logs wine_run host_exe driver_win suffix pipe root prefix hid_devices
export -f host_side bridge_cmd
"$with_display" "${launch[@]}" -- bash -c host_side
host_status=$?
display_status=$(cat "$logs/display.status" 2>/dev/null || echo 1)
com=$(cat "$logs/com" 2>/dev/null)
link=$prefix/dosdevices/com${com#COM}
if [ "$kind" = hid ]; then
  # The display said goodbye on its way out; the bridge ends on that.
  for _ in $(seq 100); do [ -f "$logs/bridge.status" ] && break; sleep 0.1; done
  bridge_status=$(cat "$logs/bridge.status" 2>/dev/null || echo 1)
  sed -n '2,$p' "$logs/bridge.log" | tr -d '\r' | sed 's/^/bridge:  /'
  grep -a '^vdisplay_hid_bridge:' "$logs/bridge.err" | sed 's/^/bridge:  /'
  echo "bridge:  exit code $bridge_status"
fi

if [ "$mode" = demo ]; then
  [ -L "$link" ] && rm -f "$link"
  echo "== demo: host exit code $host_status, display exit code $display_status =="
  [ "$host_status" -eq 0 ] && [ "$display_status" -eq 0 ]
  exit $?
fi

# --check: what each side saw, not only how they ended.
passed=0
failed=0
check() {
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
    echo "ok:   $what"
  else
    failed=$((failed + 1))
    echo "FAIL: $what"
  fi
}
has() { grep -qF -- "$2" "$logs/$1.log"; }
has_line() { grep -qxF -- "$2" "$logs/$1.log"; }
hello_braille="⡓⠑⠇⠇⠕⠠⠀⠃⠗⠁⠊⠇⠇⠑⠮"
host_key() { grep -qE "^\[ *[0-9.]+\] key $1 $2\$" "$logs/host.log"; }
if [ "$kind" = hid ]; then
  status_cells=""
  blank_line="cells $(printf '⠀%.0s' $(seq 40))"
  check "host opened the display with 40 text and 0 status cells" \
    has host "opened the display: 40 text cells, 0 status cells"
else
  status_cells="⠀⠀ │ "
  blank_line="cells $status_cells$(printf '⠀%.0s' $(seq 40))"
  check "host opened the display with 40 text and 2 status cells" \
    has host "opened the display: 40 text cells, 2 status cells"
fi
check "display answered the driver's identify request" has display "identify:"
check "display shows Hello, braille! as Unicode braille" \
  has display "cells $status_cells$hello_braille⠀"
check "display reads the text back as Hello, braille!" has_line display "text Hello, braille!"
check "host's own rendering matches the display's" has host "$hello_braille"
check "host received F1" host_key F1 0
check "host received Routing 5 for the key over cell 5" host_key Routing 5
if [ "$kind" = serial ]; then
  check "host received STATUS1" host_key STATUS1 0
  check "host received the chord as KBD125" host_key KBD125 0
  check "host received typed text as qwerty:hi" host_key "qwerty:hi" 0
else
  check "bridge ended when the display did" test "${bridge_status:-1}" -eq 0
fi
check "display went blank on clear" has_line display "$blank_line"
check "display shows Goodbye after suspend and resume" has_line display "text Goodbye"
check "host ended without a failure (exit code 0)" test "$host_status" -eq 0
check "display ended cleanly (exit code 0)" test "$display_status" -eq 0
check "the COM link is gone" test ! -L "$link"
[ -L "$link" ] && rm -f "$link"
echo "demo: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
