#!/usr/bin/env bash
# Checks that a product tree (configured without tests) carries no test view or seam:
# no `*TestApi` symbol in its installer nor in any library the installer links.
#   tools/check-no-test-hooks.sh <build tree>
# The libraries are looked at too, so a stripped installer cannot hide what it holds.
set -euo pipefail
tree=$1
nm=i686-w64-mingw32-nm
command -v "$nm" >/dev/null || nm=x86_64-w64-mingw32-nm
fail() { echo "check-no-test-hooks: $*" >&2; exit 1; }
[ -f "$tree/installer.exe" ] || fail "$tree/installer.exe does not exist"
mapfile -t libraries < <(find "$tree" -name 'libqx_*.a' | sort)
[ ${#libraries[@]} -gt 0 ] || fail "no project libraries under $tree"
found=$({ "$nm" -C "$tree/installer.exe" 2>/dev/null || true; "$nm" -C "${libraries[@]}" 2>/dev/null; } |
        grep -E 'TestApi::' | sed 's/^[0-9a-f ]*[A-Za-z] //' | sort -u || true)
[ -z "$found" ] || fail "test code in the product: $(echo $found | head -c 400)"
echo "check-no-test-hooks: no test views in $tree/installer.exe or its ${#libraries[@]} libraries"
