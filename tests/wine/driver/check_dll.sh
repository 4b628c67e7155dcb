#!/usr/bin/env bash
# Checks a DLL's import and export tables: it may import only Windows' KnownDLLs, which Windows
# takes from the system directory whatever a program's folder holds (so no hid.dll and no
# setupapi.dll: the driver loads those itself from the system directory), and must export
# exactly the names given after it.
set -euo pipefail
objdump=$1 dll=$2
shift 2
dump=$("$objdump" -p "$dll")
allowed='^(kernel32|user32|msvcrt|advapi32|ntdll|ws2_32)\.dll$'
status=0
while read -r name; do
  if ! [[ ${name,,} =~ $allowed ]]; then
    echo "unexpected import: $name"
    status=1
  fi
done < <(sed -n 's/^\tDLL Name: //p' <<<"$dump")
exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | sed -n 's/^\t\[ *[0-9]*\] //p' | sort)
expected=$(printf '%s\n' "$@" | sort)
if [[ $exports != "$expected" ]]; then
  echo "exports: $(echo $exports); expected: $*"
  status=1
fi
exit $status
