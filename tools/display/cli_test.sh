#!/usr/bin/env bash
# The display programs from the outside: bad arguments give one clear line and exit code 2 (in
# virtual_display and serial_display_sim alike); a frame written to virtual_display's pty shows
# as Unicode braille and text; keys pressed by a script arrive on the line as packets.
#   cli_test.sh VIRTUAL_DISPLAY SERIAL_DISPLAY_SIM
set -uo pipefail
program=$1
sim_program=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

bad_arguments=(
  "--text 0" "--text 81" "--text x" "--status 9" "--status -1" "--ack sometimes"
  "--ack drop:" "--ack delay:x" "--timeout 0" "--bogus" "--link" "--script $work/missing"
  "--hid40 --hid80" "--hid80 --text 40" "--status 0 --hid40"
)
# One line on stderr naming the program, exit code 2, nothing on stdout.
expect_refusal() {
  local exe=$1 name=$2 args=$3
  # shellcheck disable=SC2086
  "$exe" --no-stdin --timeout 5 $args >"$work/out" 2>"$work/err" </dev/null
  code=$?
  [ "$code" -eq 2 ] || fail "$name $args: exit code $code, expected 2"
  [ "$(wc -l <"$work/err")" -eq 1 ] || fail "$name $args: expected one line on stderr, got: $(cat "$work/err")"
  grep -q "^$name: " "$work/err" || fail "$name $args: message does not name the program"
  [ ! -s "$work/out" ] || fail "$name $args: printed on stdout: $(cat "$work/out")"
}
for args in "${bad_arguments[@]}"; do
  expect_refusal "$program" virtual_display "$args"
  case $args in *hid*) ;; *) expect_refusal "$sim_program" serial_display_sim "$args" ;; esac
done
for args in "--info1 256" "--info2 x" "--hid40"; do
  expect_refusal "$sim_program" serial_display_sim "$args"
done
"$program" --help >"$work/out" 2>&1 || fail "--help exit code $?"
grep -q -- '--link PATH' "$work/out" || fail "--help does not describe --link"
"$sim_program" --help >"$work/out" 2>&1 || fail "serial_display_sim --help exit code $?"
grep -q -- '--stamp' "$work/out" || fail "serial_display_sim --help does not describe --stamp"
grep -q -- 'identify TEXT STATUS' "$work/out" || fail "serial_display_sim --help lacks the commands"

# The display with the script, serving until it quits; its pty's path in $work/pty. The line's
# end in Python: from pty_line import fd, device.
start_display() {
  rm -f "$work/pty"
  "$program" "$@" --path-file "$work/pty" --script "$work/script" --no-stdin --timeout 20 \
    >"$work/out" 2>"$work/err" &
  pid=$!
  for _ in $(seq 100); do [ -s "$work/pty" ] && break; sleep 0.1; done
}
cat >"$work/pty_line.py" <<'PY'
import os, sys
fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY)
host_to_device = [3, 2, 1, 7, 6, 5, 0, 4]
def device(host):
    return sum(1 << host_to_device[b] for b in range(8) if host >> b & 1)
PY
export PYTHONPATH=$work

# A frame of "hello" after two status cells, and the keys the script presses in reply.
cat >"$work/script" <<'SCRIPT'
wait CELLS 1 8000
F1
cell 3
status2 1
chord shift 14
type hi
sleep 500
quit
SCRIPT
start_display
python3 - "$(cat "$work/pty")" >"$work/line" <<'PY' || fail "could not talk to the pty"
import os, select, time
from pty_line import fd, device
# h e l l o in computer braille: dots 125, 15, 123, 123, 135
cells = [0xFF, 0x00] + [device(d) for d in (0x13, 0x11, 0x07, 0x07, 0x15)] + [0] * 35
data = bytes(cells)
total = (2 + 0 + len(data) + 3 + sum(data)) & 0xFFFF ^ 0xAA55
os.write(fd, bytes([1, 2, 0, len(data), 3]) + data + bytes([total & 0xFF, total >> 8]))
received = b""
end = time.time() + 15
while time.time() < end:
    ready, _, _ = select.select([fd], [], [], 0.2)
    if ready:
        received += os.read(fd, 4096)
    if received.count(b"\x01\x02") >= 6:
        break
# One line per packet: type and data.
i = 0
while i + 5 <= len(received):
    if received[i:i + 2] != b"\x01\x02":
        i += 1
        continue
    n = received[i + 3]
    print(received[i + 2], " ".join("%02X" % b for b in received[i + 5:i + 5 + n]))
    i += 7 + n
PY
wait "$pid" || fail "exit code $? after quit"

expect_out() {
  grep -qF -- "$1" "$work/out" || fail "display did not print: $1"
}
expect_line() {
  grep -qxF -- "$1" "$work/line" || fail "line did not carry packet: $1"
}
expect_out "cells ⣿⠀ │ ⠓⠑⠇⠇⠕⠀"
expect_out "text hello"
expect_out "press F1"
expect_out "press routing key over cell 3"
expect_line "127 "          # the frame was acknowledged
expect_line "16 01"         # F1
expect_line "17 05"         # cell 3 after two status cells
expect_line "17 81"         # status key 1, second set
expect_line "21 03 09 00"   # shift chord of dots 1 and 4
expect_line "22 02 68 69 00" # typed text
# The HID model: reports in relay frames (A5 length report), as the bridge carries them.
cat >"$work/script" <<'SCRIPT'
wait CELLS 1 8000
F1
cell 3
sleep 500
quit
SCRIPT
start_display --hid40
python3 - "$(cat "$work/pty")" >"$work/line" <<'PY' || fail "could not talk to the pty (HID)"
import os, select, time
from pty_line import fd, device
def relay(payload):
    report = bytes([0]) + bytes(payload)
    return bytes([0xA5, len(report)]) + report
out = relay([0xFB, 0xAA, 0x55, 0, 0, 0, 0, 0])
cells = [device(d) for d in (0x13, 0x11, 0x07, 0x07, 0x15)] + [0] * 37
body = [0xFF, 0xAA, 0x55] + cells + [0x55, 0xAA, 0xFF]
for i in range(0, len(body), 8):
    out += relay(body[i:i + 8])
os.write(fd, out)
received = b""
end = time.time() + 15
while time.time() < end and not received.endswith(b"\xa5\x00"):
    ready, _, _ = select.select([fd], [], [], 0.2)
    if ready:
        try:
            received += os.read(fd, 4096)
        except OSError:
            break
i = 0
while i + 2 <= len(received):
    n = received[i + 1]
    print(" ".join("%02X" % b for b in received[i + 2:i + 2 + n]) if n else "goodbye")
    i += 2 + n
PY
wait "$pid" || fail "exit code $? after quit (HID)"
expect_out "display HID 40-cell model, 40 text cells, 0 status cells"
expect_out "identify: the driver asks for the display"
expect_out "cells ⠓⠑⠇⠇⠕⠀"
expect_out "text hello"
expect_line "00 FB AA 55 01 02 28 00 00"  # identify reply: 40 text cells
expect_line "00 FF 00 00 00 00 00 00 00"  # the frame acknowledged
expect_line "00 FE 01 00 00 00 00 00 00"  # F1
expect_line "00 FD 03 00 00 00 00 00 00"  # cell 3: routing code 3
expect_line "goodbye"

if [ $failures -ne 0 ]; then
  echo "--- display output"; cat "$work/out" "$work/err"
  echo "--- line"; cat "$work/line"
  exit 1
fi
echo "display programs cli: all passed"
