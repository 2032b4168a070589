#!/usr/bin/env bash
# The installer's main job end to end on this machine: sets it up (as root, once),
# builds the product and the test build, and runs the installer under Wine (visible when
# a display is set, under Xvfb otherwise), then prints how it ended.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QX_BUILD:-$top/build}
jobs=$(nproc)

"$top/tools/setup.sh"
cmake -S "$top" -B "$build/i686" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-i686.cmake" -DQX_BUILD_TESTS=OFF >/dev/null
cmake --build "$build/i686" -j "$jobs" --target installer
"$top/tools/check-pe.sh" "$build/i686/installer.exe"
cmake -S "$top" -B "$build/x86_64" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-x86_64.cmake" >/dev/null
cmake --build "$build/x86_64" -j "$jobs" --target installer

export QX_WINEPREFIX=$build/run-wineprefix
set +e
"$top/tools/wine-run" "$build/x86_64/installer.exe"
code=$?
set -e
echo "installer ended with exit code $code"
