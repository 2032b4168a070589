#!/usr/bin/env bash
# One package on two copies of different speeds, side by side in one run: a loopback nginx
# shapes each connection to 2 MiB/s under /slow/ (announced, on 127.0.0.1) and to 8 MiB/s
# under /fast/ (the mirror, on 127.0.0.2, another host), a 64 MiB package. AsyncWinHttp
# (under Wine, download_bench get with 4 connections and the mirror) and aria2c (the same
# two addresses, 4 connections to each host) fetch it; each also from the fast copy alone. Each figure
# is the median of three runs, every run must give the package byte for byte, and the
# share of bytes the fast copy sent is read from nginx's log.
# Usage: tools/bench/mirrors.sh [x86_64 build]   (after tools/test.sh; needs aria2c)
# Without DISPLAY it starts an Xvfb; it uses the Wine prefix named by QX_WINEPREFIX (else
# <x86_64 build>/bench-prefix). Loopback only; everything it starts is stopped on exit.
set -u
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$src/build/x86_64}" && pwd) || exit 1
bench=$build/tools/bench/download_bench.exe
[ -f "$bench" ] || { echo "no $bench: build it first" >&2; exit 1; }
command -v aria2c >/dev/null || { echo "no aria2c: run tools/setup.sh" >&2; exit 1; }
. "$src/tests/download/servers-lib.sh"
. "$here/session-lib.sh"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
export QX_WINEPREFIX=${QX_WINEPREFIX:-$build/bench-prefix}

qx_bench_begin qx-mirrors-bench || exit 1

size=$((64 << 20))
mkdir -p "$root/www/slow" "$root/www/fast" "$root/got"
head -c "$size" /dev/urandom >"$root/www/slow/package.bin"
ln "$root/www/slow/package.bin" "$root/www/fast/package.bin"
chmod -R a+rX "$root"
# Small sendfile chunks: nginx would otherwise send the first 2 MiB unshaped.
qx_nginx_start "$root/nginx" "$root/www" "sendfile_max_chunk 64k;
  location /slow/ { limit_rate 2m; } location /fast/ { limit_rate 8m; }" || exit 1
# Started again with the body bytes of each request in its log, to tell which copy sent what.
kill "$QX_NGINX_PID"
wait "$QX_NGINX_PID" 2>/dev/null
sed -i "s/\\\$status'/\\\$status \\\$body_bytes_sent'/" "$root/nginx/nginx.conf"
/usr/sbin/nginx -p "$root/nginx" -c "$root/nginx/nginx.conf" -e "$root/nginx/error.log" &
QX_NGINX_PID=$!
qx_wait_port "$QX_NGINX_PORT" || exit 1
log=$root/nginx/access.log
slow="http://127.0.0.1:$QX_NGINX_PORT/slow/package.bin"
fast="http://127.0.0.2:$QX_NGINX_PORT/fast/package.bin"
win_path() { local p=${1//\//\\}; echo "Z:$p"; }
median() { sort -g | sed -n 2p; }

# run CLIENT URL...: one download; prints "<seconds> <share of bytes from /fast/>".
run() {
  local client=$1 seconds line before got=$root/got/package.bin
  shift
  rm -f "$got" "$got".*
  before=$(wc -l <"$log")
  case $client in
    installer)
      line=$(timeout 150 "$src/tools/wine-run" "$bench" get "$1" "$(win_path "$got")" "$size" 4 "${@:2}" | tr -d '\r')
      seconds=${line##* } ;;
    aria2c)
      seconds=$( { TIMEFORMAT=%3R; time timeout 150 aria2c --no-conf -q -x 4 -s 8 -k 1M \
                   --file-allocation=none --allow-overwrite=true --auto-file-renaming=false \
                   -d "$root/got" -o package.bin "$@" >/dev/null; } 2>&1 ) ;;
  esac
  cmp -s "$got" "$root/www/slow/package.bin" || { echo "$client did not get the package from $*" >&2; return 1; }
  sleep 0.3
  echo "$seconds $(tail -n +"$((before + 1))" "$log" | awk '{ b = $NF; t += b; if ($1 ~ /^\/fast\//) f += b }
    END { printf "%.2f", t ? f / t : 0 }')"
}

declare -A seconds shares
measure() { # measure KEY CLIENT URL...
  local key=$1 out times=() cuts=() _
  shift
  for _ in 1 2 3; do
    out=$(run "$@") || exit 1
    times+=("${out% *}")
    cuts+=("${out#* }")
  done
  seconds[$key]=$(printf '%s\n' "${times[@]}" | median)
  shares[$key]=$(IFS=/; echo "${cuts[*]}")
}

run installer "$fast" >/dev/null || exit 1  # warms the prefix, the page cache and nginx
measure "installer alone" installer "$fast"
measure "installer both" installer "$slow" "$fast"
measure "aria2c alone" aria2c "$fast"
measure "aria2c both" aria2c "$slow" "$fast"

echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores;" \
     "$(/usr/lib/wine/wine64 --version 2>/dev/null || echo wine), nginx $(/usr/sbin/nginx -v 2>&1 | sed 's/.*\///')," \
     "$(aria2c --version | head -1); $(date -u +%Y-%m-%d)"
echo
echo "| copies (4 connections) | client | seconds (median of 3) | MiB/s | vs the fast copy alone | vs aria2c (same copies) | share from the fast copy (3 runs) |"
echo "|---|---|---|---|---|---|---|"
for copies in alone both; do
  for client in installer aria2c; do
    key="$client $copies"
    awk -v c="$copies" -v k="$client" -v s="${seconds[$key]}" -v a="${seconds[$client alone]}" \
        -v r="${seconds[aria2c $copies]}" -v m=$((size >> 20)) -v f="${shares[$key]}" 'BEGIN {
      printf "| %s | %s | %.2f s | %.1f | %.2f | %.2f | %s |\n",
        c == "alone" ? "8 MiB/s alone" : "2 MiB/s announced + 8 MiB/s mirror", k, s, m / s, a / s, r / s, f }'
  done
done
