#!/usr/bin/env bash
# Builds the release zip with cpack and checks its contents and zol.dll's version resource.
set -euo pipefail
build=$1
version=$2
cd "$build"
cpack >/dev/null
zip=package/zol-$version-win64.zip
listing=$(unzip -Z1 "$zip")
status=0
for f in bin/zol.dll bin/zolhost.exe include/zol/braille_driver.h README.md LICENSE \
         THIRD-PARTY-NOTICES docs/host-integration.md docs/protocol.md; do
  if ! grep -qx "zol-$version-win64/$f" <<<"$listing"; then
    echo "missing from $zip: $f"
    status=1
  fi
done
if grep -Eq 'hidsim|_test\.exe|fake' <<<"$listing"; then
  echo "test binaries in $zip:"
  grep -E 'hidsim|_test\.exe|fake' <<<"$listing"
  status=1
fi
dll=bin/zol.dll
if ! strings -el "$dll" | grep -qx "$version"; then
  echo "zol.dll has no version resource with $version"
  status=1
fi
if ! strings -el "$dll" | grep -qx "ZOL braille display driver"; then
  echo "zol.dll has no file description"
  status=1
fi
[ $status -eq 0 ] && echo "release package ok: $zip"
exit $status
