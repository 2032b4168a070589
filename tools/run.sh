#!/usr/bin/env bash
# The installer's main job end to end on this machine: sets it up (as root, once),
# builds the product and the branded test build, starts the development update server
# and nginx on loopback, and runs the one-key install under Wine as a user would (real
# mouse input; visible when a display is set, under Xvfb otherwise). Prints the exit
# code, what was installed and where the screenshots are.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QX_BUILD:-$top/build}
jobs=$(nproc)

"$top/tools/setup.sh"

echo "== the product (i686)"
cmake -S "$top" -B "$build/i686" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-i686.cmake" -DQX_BUILD_TESTS=OFF >/dev/null
cmake --build "$build/i686" -j "$jobs" --target installer brand
"$top/tools/check-pe.sh" --budget 1200000 "$build/i686/installer.exe"
"$top/tools/check-pe.sh" --console "$build/i686/brand.exe"

echo "== the same installer for this machine's Wine (x86_64), branded for a loopback update server"
cmake -S "$top" -B "$build/x86_64" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-x86_64.cmake" >/dev/null
cmake --build "$build/x86_64" -j "$jobs" --target installer installer_e2e qx_dialog_watch qx_test_payload
cmake -S "$top" -B "$build/native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build/native" -j "$jobs" --target devserver
export QX_DEVSERVER=$build/native/tools/devserver/devserver

if [ -z "${DISPLAY:-}" ]; then
  . "$top/tools/xvfb-lib.sh"
  qx_xvfb_start
  echo "== no display set: running under Xvfb on $DISPLAY"
fi
export QX_WINEPREFIX=$build/run-wineprefix
"$top/tools/wine-prefix" "$QX_WINEPREFIX"
"$top/tools/wine-run" --session
stop() {
  WINEPREFIX=$QX_WINEPREFIX timeout 20 /usr/lib/wine/wineserver -k 2>/dev/null || true
  declare -F qx_xvfb_stop >/dev/null && qx_xvfb_stop
  return 0
}
trap stop EXIT

echo "== one-key install"
python3 "$top/tests/app/e2e/run.py" one_key --build "$build/x86_64"
