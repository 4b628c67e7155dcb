#!/usr/bin/env bash
# Installs the build and test tools on a Debian machine when they are missing.
set -euo pipefail
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(mingw-w64)
# The test HID minidriver links mingw-w64's ntoskrnl and hidclass import libraries.
[ -f /usr/x86_64-w64-mingw32/lib/libhidclass.a ] || need+=(mingw-w64-x86-64-dev)
command -v wine >/dev/null || need+=(wine wine64)
[ -f /usr/lib/wine/wine64 ] || need+=(wine64)
[ -d /usr/src/googletest ] || need+=(googletest)
# Prebuilt for the native build (the mingw-w64 build compiles the sources above).
ls /usr/lib/*/cmake/GTest/GTestConfig.cmake >/dev/null 2>&1 || need+=(libgtest-dev libgmock-dev)
command -v clang++ >/dev/null || need+=(clang)
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-dev)
command -v clang-format >/dev/null || need+=(clang-format)
command -v python3 >/dev/null || need+=(python3)
[ -f /usr/include/CLI/CLI.hpp ] || need+=(libcli11-dev)
[ -f /usr/share/liblouis/tables/en-us-comp8-ext.utb ] || need+=(liblouis-data)
# Header-only: the benchmark writes its JSON with it.
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
