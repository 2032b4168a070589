#!/usr/bin/env bash
# Runs the MD5 test with reference digests from the system's md5sum:
#   md5sum-cases.sh <test program> [runner...]
# Random files around the padding and the 4 MiB chunk size, large ones and sparse ones past
# 512 MiB and 4 GiB are made in a temporary folder, which is removed afterwards even when
# the test fails.
set -u
program=$1
shift
. "$(cd "$(dirname "$0")" && pwd)/servers-lib.sh"
dir=$(mktemp -d "${TMPDIR:-/tmp}/qx-md5.XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT
mib=$((1024 * 1024))
for size in 1 55 56 63 64 65 $((4 * mib - 1)) $((4 * mib)) $((4 * mib + 1)) $((8 * mib + 4097)) $((37 * mib + 11)); do
  head -c "$size" /dev/urandom >"$dir/random-$size.bin"
done
# Past 512 MiB the low word of the bit count wraps: sparse zeros cost no disk.
truncate -s $((512 * mib + 3)) "$dir/zeros.bin" || exit 1
# In uppercase, as CMD5Checksum gives them.
(cd "$dir" && md5sum random-*.bin zeros.bin | sed 's/^[0-9a-f]*/\U&/' >SUMS) || exit 1
# Past 4 GiB a 32-bit size wraps: a sparse file costs no disk.
truncate -s $((4 * 1024 * mib)) "$dir/sparse-4g.bin" && printf 'tail bytes' >>"$dir/sparse-4g.bin" || exit 1
export QX_MD5_CASES=$dir
qx_run_gtest "$dir/report.xml" "$program" "$@"
