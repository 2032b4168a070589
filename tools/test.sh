#!/usr/bin/env bash
# Sets up this machine (as root, once), builds every tree and runs every test:
#   native  portable code under AddressSanitizer and UndefinedBehaviorSanitizer
#   i686    the product, checked as a static PE32 GUI program with system imports only
#   x86_64  the same source, whose tests run under Wine with Xvfb
# Safe to run again; build trees are kept under build/ (QX_BUILD overrides).
# With arguments, every tree is still built, but only the Windows tests that those ctest
# arguments select run (for example: tools/test.sh -R e2e_custom_typed).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QX_BUILD:-$top/build}
jobs=$(nproc)

"$top/tools/setup.sh"

step() { printf '\n== %s\n' "$*"; }

step "native build"
cmake -S "$top" -B "$build/native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build/native" -j "$jobs"

step "i686 build (the product)"
cmake -S "$top" -B "$build/i686" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-i686.cmake" -DQX_BUILD_TESTS=OFF >/dev/null
cmake --build "$build/i686" -j "$jobs"
# What a publisher receives, side by side: the stock installer and the branding tool.
"$top/tools/check-pe.sh" --budget 1200000 "$build/i686/installer.exe"
"$top/tools/check-no-test-hooks.sh" "$build/i686"
"$top/tools/check-pe.sh" --console "$build/i686/brand.exe"

step "fuzz build (clang with libFuzzer, the sanitizers)"
CC=clang CXX=clang++ cmake -S "$top/tests/fuzz" -B "$build/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build/fuzz" -j "$jobs"

step "x86_64 build (the tests' build)"
cmake -S "$top" -B "$build/x86_64" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-x86_64.cmake" >/dev/null
cmake --build "$build/x86_64" -j "$jobs"

if [ -z "${DISPLAY:-}" ]; then
  . "$top/tools/xvfb-lib.sh"
  qx_xvfb_start
fi
# A fresh Wine prefix for this run, never the user's own, and its session started once,
# before any test, so no test's captured output is held open by the prefix's services.
export QX_WINEPREFIX=$build/x86_64/wineprefix
rm -rf "$QX_WINEPREFIX" "$QX_WINEPREFIX.lock" "$QX_WINEPREFIX.session"
"$top/tools/wine-prefix" "$QX_WINEPREFIX"
"$top/tools/wine-run" --session
cleanup() {
  WINEPREFIX=$QX_WINEPREFIX timeout 20 /usr/lib/wine/wineserver -k 2>/dev/null || true
  declare -F qx_xvfb_stop >/dev/null && qx_xvfb_stop
  return 0
}
trap cleanup EXIT

# Programs the Windows tests drive from the Linux side.
if [ -x "$build/native/tools/devserver/devserver" ]; then
  export QX_DEVSERVER=$build/native/tools/devserver/devserver
fi
if [ -f "$build/native/tests/support/libqx_slow_resolve.so" ]; then
  export QX_SLOW_RESOLVER=$build/native/tests/support/libqx_slow_resolve.so
fi

status=0
if [ $# -eq 0 ]; then
  step "native tests"
  ctest --test-dir "$build/native" -j "$jobs" --output-on-failure || status=1
  step "fuzz runs (a few seconds each from the committed corpus)"
  ctest --test-dir "$build/fuzz" --output-on-failure || status=1
fi
step "Windows tests under Wine (display $DISPLAY)"
ctest --test-dir "$build/x86_64" -j "$jobs" --output-on-failure "$@" || status=1
if [ $status -eq 0 ]; then
  step "all tests passed"
else
  step "some tests FAILED"
fi
exit $status
