#!/usr/bin/env bash
# Throughput of the package download beside the system's tools, each as a ratio:
#   MD5 of one file: CMD5Checksum (under Wine) against md5sum,
#   download from one loopback nginx: AsyncWinHttp (under Wine) against curl.
# Usage: tools/bench/download-bench.sh [build folder (x86_64)] [size in MiB]
# Each figure is the best of three runs; the programs time their own work.
set -u
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$src/build/x86_64}" && pwd) || exit 1
mib=${2:-200}
bench=$build/tests/download/download_bench.exe
[ -f "$bench" ] || { echo "no $bench: build the target download_bench" >&2; exit 1; }
. "$src/tests/download/servers-lib.sh"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY

root=$(mktemp -d "${TMPDIR:-/tmp}/qx-bench.XXXXXX") || exit 1
stop() {
  [ -n "${QX_NGINX_PID:-}" ] && { kill "$QX_NGINX_PID" 2>/dev/null; wait "$QX_NGINX_PID" 2>/dev/null; }
  rm -rf "$root"
}
trap stop EXIT
mkdir -p "$root/www"
chmod 755 "$root" "$root/www"
head -c $((mib * 1024 * 1024)) /dev/urandom >"$root/www/package.bin"
chmod 644 "$root/www/package.bin"
bytes=$(stat -c %s "$root/www/package.bin")
wine_run() { "$src/tools/wine-run" --prefix "$build/wineprefix" "$@"; }
win_path() { local p=${1//\//\\}; echo "Z:$p"; }
best() { sort -g | head -1; }
mbps() { awk -v b="$bytes" -v s="$1" 'BEGIN { printf "%.0f", b / s / 1048576 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b / a }'; }

# Warm the page cache and the Wine prefix.
cat "$root/www/package.bin" >/dev/null
wine_run "$bench" md5 "$(win_path "$root/www/package.bin")" >/dev/null

expected=$(md5sum "$root/www/package.bin" | cut -d' ' -f1)
ours_md5=()
for _ in 1 2 3; do
  line=$(wine_run "$bench" md5 "$(win_path "$root/www/package.bin")" | tr -d '\r')
  [ "${line%% *}" = "${expected^^}" ] || { echo "wrong digest: $line, md5sum says $expected" >&2; exit 1; }
  ours_md5+=("${line##* }")
done
theirs_md5=()
for _ in 1 2 3; do
  theirs_md5+=("$( { TIMEFORMAT=%3R; time md5sum "$root/www/package.bin" >/dev/null; } 2>&1 )")
done
md5_ours=$(printf '%s\n' "${ours_md5[@]}" | best)
md5_theirs=$(printf '%s\n' "${theirs_md5[@]}" | best)

qx_nginx_start "$root/nginx" "$root/www" || exit 1
url="http://127.0.0.1:$QX_NGINX_PORT/package.bin"
ours_get=()
for _ in 1 2 3; do
  line=$(wine_run "$bench" get "$url" "$(win_path "$root/got.bin")" "$bytes" | tr -d '\r')
  [ "${line%% *}" = "$bytes" ] || { echo "short download: $line" >&2; exit 1; }
  cmp -s "$root/got.bin" "$root/www/package.bin" || { echo "download differs" >&2; exit 1; }
  ours_get+=("${line##* }")
done
theirs_get=()
for _ in 1 2 3; do
  theirs_get+=("$(curl -s -o "$root/curl.bin" -w '%{time_total}' "$url")")
done
get_ours=$(printf '%s\n' "${ours_get[@]}" | best)
get_theirs=$(printf '%s\n' "${theirs_get[@]}" | best)

echo "file: $mib MiB random, $(nproc) cores, $(date -u +%Y-%m-%d)"
echo
echo "| what | ours (MiB/s) | reference (MiB/s) | ratio ours/reference |"
echo "|---|---|---|---|"
echo "| MD5 (CMD5Checksum under Wine vs md5sum) | $(mbps "$md5_ours") | $(mbps "$md5_theirs") | $(ratio "$md5_ours" "$md5_theirs") |"
echo "| download from loopback nginx (AsyncWinHttp under Wine vs curl) | $(mbps "$get_ours") | $(mbps "$get_theirs") | $(ratio "$get_ours" "$get_theirs") |"
