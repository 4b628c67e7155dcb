#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's private prefix (created on first use,
# with the null graphics driver so that windows, timers and hooks work headless).
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
  # The first program of a new Wine server starts the session's processes (services, plug and
  # play, device hosts, the desktop), and they inherit its stdout and stderr. Under ctest or
  # ninja those are the pipe the program's output is read from, which then stays open until
  # the last Wine program of the whole run has ended: a test that passed in 2 s times out.
  # So a new server (rc 0; 2 means one is running) is started here with no output, kept 20 s
  # after its last program, and a silent program that needs the desktop brings the session up.
  # Neither may inherit the lock's descriptor, or the session would hold the lock.
  if env -u WINEDLLOVERRIDES wineserver -p20 </dev/null >/dev/null 2>&1 9>&-; then
    env -u WINEDLLOVERRIDES wine rundll32.exe user32.dll,GetDesktopWindow \
      </dev/null >/dev/null 2>&1 9>&- || true
  fi
) 9>"$WINEPREFIX.lock"
exec wine "$@"
