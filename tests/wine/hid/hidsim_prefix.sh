#!/usr/bin/env bash
# Makes the Wine prefix of the test-only HID stack ready:
#   hidsim_prefix.sh PREFIX DLL-DIR
# The prefix is made like the project's others (cmake/wine-run.sh); DLL-DIR's hid.dll and
# setupapi.dll then replace Wine's in its system directory, where zol.dll loads them from. Wine
# still prefers its own DLLs to files found there, except in the programs named below, which
# the prefix's registry gives the native files first: Wine's own processes in the prefix
# (services, device hosts, desktop) keep Wine's DLLs whatever environment started them.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: hidsim_prefix.sh PREFIX DLL-DIR" >&2; exit 2; }
prefix=$1
dlls=$2
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
programs=(hid_wine_test.exe hid_e2e_test.exe zol_bench.exe zolhost.exe)

ZOL_WINEPREFIX=$prefix "$root/cmake/wine-run.sh"
system=$prefix/drive_c/windows/system32
(
  flock 9
  for name in hid setupapi; do
    # Replaced by a rename, so that a program still running from the old file keeps it.
    if ! cmp -s "$dlls/$name.dll" "$system/$name.dll"; then
      cp "$dlls/$name.dll" "$system/$name.dll.new"
      mv -f "$system/$name.dll.new" "$system/$name.dll"
    fi
  done
  # The stamp holds the list the registry was given, so that a changed list is applied.
  stamp=$prefix/.zol-hidsim
  if [ "$(cat "$stamp" 2>/dev/null)" != "${programs[*]}" ]; then
    overrides=$(mktemp --suffix=.reg "${TMPDIR:-/tmp}/hidsim-overrides.XXXXXX")
    {
      printf 'REGEDIT4\n'
      for program in "${programs[@]}"; do
        printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\%s\\DllOverrides]\n' "$program"
        printf '"hid"="native,builtin"\n"setupapi"="native,builtin"\n'
      done
    } >"$overrides"
    WINEPREFIX=$prefix WINEDEBUG=-all env -u WINEDLLOVERRIDES wine regedit /S "Z:${overrides//\//\\}" \
      </dev/null >/dev/null 2>&1 9>&-
    rm -f "$overrides"
    echo "${programs[*]}" >"$stamp"
  fi
) 9>"$prefix.lock"
