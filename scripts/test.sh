#!/usr/bin/env bash
# Builds the native and the Windows presets and runs every test: native unit tests under
# ASan/UBSan, the Windows tests under Wine, the demo's check (scripts/demo.sh --check) and
# each fuzz target for a short time.
# Installs what is missing on a fresh Debian machine first.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

jobs=$(nproc)
status=0
summary=()

run_ctest() {
  local preset=$1
  local log=build/ctest-$preset.log
  # A test that fails is run once more before it counts as failed: the Wine tests use real
  # time on a shared 2-core machine. Each retry is listed after the run.
  if ctest --preset "$preset" -j "$jobs" --timeout 600 --repeat until-pass:2 2>&1 | tee "$log"; then
    :
  else
    status=1
  fi
  grep -E 'Test +#[0-9]+: .*\*\*\*(Failed|Timeout)' "$log" | sed 's/^/retried: /' || true
  summary+=("$preset: $(grep -E 'tests passed|tests failed' "$log" | tail -n 1)")
}

echo "== native build (ASan + UBSan) =="
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs"
run_ctest native

echo "== windows build (mingw-w64), tests under Wine =="
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
run_ctest windows

run_demo_check() {
  local name=$1 log=build/$1.log
  shift
  if scripts/demo.sh --check --no-build "$@" 2>&1 | tee "$log"; then :; else status=1; fi
  local result
  result=$(grep -E '^demo: [0-9]+ passed' "$log" | tail -n 1 | sed 's/^demo: //' || true)
  summary+=("$name: ${result:-did not finish}")
}
echo "== demo check: zolhost and zol.dll under Wine against the virtual display =="
run_demo_check demo
echo "== demo check, the USB (HID) model through the bridge =="
run_demo_check demo-hid --hid

if [ -f fuzz/CMakeLists.txt ]; then
  echo "== fuzz targets (clang, libFuzzer, short runs) =="
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j "$jobs" --target fuzz_targets
  if scripts/fuzz.sh --seconds "${ZOL_FUZZ_SECONDS:-15}" 2>&1 | tee build/fuzz.log; then :; else status=1; fi
  summary+=("fuzz: $(tail -n 1 build/fuzz.log)")
fi

echo
echo "== summary =="
for line in "${summary[@]}"; do echo "$line"; done
exit $status
