#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's private prefix (created on first use,
# with the null graphics driver so that windows, timers and hooks work headless).
#
# Wine's long-lived processes keep the stderr of the program that started them: the session
# (services, plug and play, device hosts) that of the first program of a new Wine server, the
# desktop process that of the first program to need a window while none runs (it ends about a
# second after the last such program). Whoever reads that stderr through a pipe (ctest, ninja)
# then waits for the pipe's end long after the program has gone; with tests running side by
# side, until the last of them: a test that passed in 2 s times out. So the session is brought
# up here without any output, and a program whose stderr is a pipe or socket writes it to a
# file that is copied to that stderr while the program runs.
#
# Without a program it only makes the prefix ready and its server and session running: the build
# and ctest do that first, so that creating a prefix (10 to 20 s, longer on a loaded machine)
# counts against no test's time limit.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${ZOL_WINEPREFIX:-$here/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
mkdir -p "$WINEPREFIX"
(
  flock 9
  if [ ! -f "$WINEPREFIX/.zol-ready" ]; then
    env -u WINEDLLOVERRIDES wineboot -i </dev/null >/dev/null 2>&1 9>&- || true
    env -u WINEDLLOVERRIDES wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
      </dev/null >/dev/null 2>&1 9>&-
    wineserver -w 9>&- || true
    touch "$WINEPREFIX/.zol-ready"
  fi
  # A new server (rc 0; 2 means one runs already) is kept 20 s after its last program; a
  # silent program brings its session up, without the test-only DLL overrides. Neither may
  # inherit the lock's descriptor, or the session would hold the lock.
  if env -u WINEDLLOVERRIDES wineserver -p20 </dev/null >/dev/null 2>&1 9>&-; then
    env -u WINEDLLOVERRIDES wine rundll32.exe user32.dll,GetDesktopWindow \
      </dev/null >/dev/null 2>&1 9>&- || true
  fi
) 9>"$WINEPREFIX.lock"

[ $# -gt 0 ] || exit 0

if [ ! -p /dev/stderr ] && [ ! -S /dev/stderr ]; then
  exec wine "$@"
fi
errors=$(mktemp "${TMPDIR:-/tmp}/wine-run-stderr.XXXXXX")
set +e
exec 3<&0
wine "$@" <&3 3<&- 2>"$errors" &
program=$!
exec 3<&-
tail -s 0.1 -n +1 -f --pid="$program" "$errors" >&2 &
copier=$!
trap 'kill -TERM "$program" 2>/dev/null' TERM INT HUP
status=0
wait "$program" || status=$?
# A signal ended the wait, not the program: wait for the program itself.
while kill -0 "$program" 2>/dev/null; do
  wait "$program"
  status=$?
done
wait "$copier"
rm -f "$errors"
exit "$status"
