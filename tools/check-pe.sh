#!/usr/bin/env bash
# Checks that a built program is what ships: a PE32 (32-bit) GUI program (or, with
# --console, a console program such as brand.exe) that imports only DLLs Windows always
# loads from its own folder, and, given a budget, no larger than that.
#   tools/check-pe.sh [--console] [--budget BYTES] installer.exe
set -euo pipefail
budget=
subsystem=2 kind=GUI
if [ "${1:-}" = --console ]; then
  subsystem=3 kind=console
  shift
fi
if [ "${1:-}" = --budget ]; then
  budget=$2
  shift 2
fi
exe=$1
dump=$(i686-w64-mingw32-objdump -p "$exe")
fail() { echo "check-pe: $exe: $*" >&2; exit 1; }
grep -q 'file format pei-i386' <<<"$dump" || fail "not a PE32 i386 image"
grep -Eq "^Subsystem[[:space:]]+0000000$subsystem" <<<"$dump" || fail "not a Windows $kind program"
# Imports: only DLLs that are known DLLs on every Windows the programs run on, Windows 7
# included, so Windows always loads them from its own folder. Any other one, imported,
# would be looked for beside the program first, where a planted copy would run with
# administrator rights; the program loads such DLLs from the system folder itself.
known_dlls='^(kernel32|user32|gdi32|advapi32|shell32|ole32|msvcrt|ws2_32)\.dll$'
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | tr 'A-Z' 'a-z' | sort -u)
for dll in $imports; do
  [[ $dll =~ $known_dlls ]] || fail "imports $dll, which Windows would also look for beside the program"
done
echo "check-pe: $exe is a PE32 $kind program importing only: $(echo $imports)"

# Size: the first thing a player downloads. Packing is not a way out (antivirus heuristics).
size=$(stat -c %s "$exe")
if [ -n "$budget" ]; then
  [ "$size" -le "$budget" ] || fail "$size bytes, over the budget of $budget"
  echo "check-pe: $exe is $size bytes (budget $budget, $((budget - size)) to spare)"
else
  echo "check-pe: $exe is $size bytes"
fi
