#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's private prefix (created on first use,
# with the null graphics driver so that windows, timers and hooks work headless).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${ZOL_WINEPREFIX:-$here/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
if [ ! -f "$WINEPREFIX/.zol-ready" ]; then
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.zol-ready" ]; then
      env -u WINEDLLOVERRIDES wineboot -i >/dev/null 2>&1 || true
      env -u WINEDLLOVERRIDES wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
      wineserver -w || true
      touch "$WINEPREFIX/.zol-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
fi
exec wine "$@"
