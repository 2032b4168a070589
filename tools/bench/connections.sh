#!/usr/bin/env bash
# Downloads over several connections, side by side in one run, from one loopback nginx
# that shapes every connection (limit_rate):
#   4 MiB/s per connection, a 48 MiB package: AsyncWinHttp (under Wine, download_bench
#     get with a connection count), curl (one connection) and aria2c, 1, 4 and 8
#     connections;
#   50 MiB/s per connection, a 256 MiB package: the same with 1 and 4 connections.
# Each figure is the median of three runs, and every run must give the package byte for
# byte. "requests" are the lines nginx logged in each of the three runs: how many ranges
# the client asked for. nginx lets a connection send one second's worth at once before it
# shapes it, so a client whose ranges are short ends sooner than the rate alone says.
# Usage: tools/bench/connections.sh [x86_64 build]   (after tools/test.sh; needs aria2c)
# Without DISPLAY it starts an Xvfb; it uses the Wine prefix named by QX_WINEPREFIX (else
# <x86_64 build>/bench-prefix). Loopback only; everything it starts is stopped on exit.
set -u
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$src/build/x86_64}" && pwd) || exit 1
bench=$build/tools/bench/download_bench.exe
[ -f "$bench" ] || { echo "no $bench: build it first" >&2; exit 1; }
for tool in curl aria2c; do
  command -v "$tool" >/dev/null || { echo "no $tool: run tools/setup.sh" >&2; exit 1; }
done
. "$src/tests/download/servers-lib.sh"
. "$here/session-lib.sh"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
export QX_WINEPREFIX=${QX_WINEPREFIX:-$build/bench-prefix}

qx_bench_begin qx-connections-bench || exit 1

# One folder per shaping, each with its package.
mkdir -p "$root/www/r4" "$root/www/r50" "$root/got"
head -c $((48 << 20)) /dev/urandom >"$root/www/r4/package.bin"
head -c $((256 << 20)) /dev/urandom >"$root/www/r50/package.bin"
chmod -R a+rX "$root"
qx_nginx_start "$root/nginx" "$root/www" \
  "location /r4/ { limit_rate 4m; } location /r50/ { limit_rate 50m; }" || exit 1
log=$root/nginx/access.log
win_path() { local p=${1//\//\\}; echo "Z:$p"; }
median() { sort -g | sed -n 2p; }

# run CLIENT N FOLDER: one download into $root/got/package.bin; prints "<seconds>
# <requests>", or fails when the result is not the package.
run() {
  local client=$1 n=$2 folder=$3 before seconds line
  local url="http://127.0.0.1:$QX_NGINX_PORT/$folder/package.bin" package=$root/www/$folder/package.bin
  local bytes got=$root/got/package.bin
  bytes=$(stat -c %s "$package")
  rm -f "$got" "$got".*
  before=$(wc -l <"$log")
  case $client in
    installer)
      line=$(timeout 150 "$src/tools/wine-run" "$bench" get "$url" "$(win_path "$got")" "$bytes" "$n" | tr -d '\r')
      seconds=${line##* } ;;
    curl)
      seconds=$(timeout 150 curl -s -o "$got" -w '%{time_total}' "$url") ;;
    aria2c)
      seconds=$( { TIMEFORMAT=%3R; time timeout 150 aria2c --no-conf -q -x "$n" -s "$n" -k 1M \
                   --file-allocation=none --allow-overwrite=true --auto-file-renaming=false \
                   -d "$root/got" -o package.bin "$url" >/dev/null; } 2>&1 ) ;;
  esac
  cmp -s "$got" "$package" || { echo "$client with $n connection(s) did not get the package from /$folder/" >&2; return 1; }
  # nginx logs a request when it has sent the last byte; give a closing one a moment.
  sleep 0.2
  echo "$seconds $(($(wc -l <"$log") - before))"
}

# measure KEY CLIENT N FOLDER: three runs; sets seconds[KEY] (median) and requests[KEY].
declare -A seconds requests
measure() {
  local key=$1 out times=() counts=() _
  for _ in 1 2 3; do
    out=$(run "$2" "$3" "$4") || exit 1
    times+=("${out% *}")
    counts+=("${out#* }")
  done
  seconds[$key]=$(printf '%s\n' "${times[@]}" | median)
  requests[$key]=$(IFS=/; echo "${counts[*]}")
}

# Warms the prefix, the page cache and nginx.
run installer 1 r50 >/dev/null || exit 1
for folder in r4 r50; do
  counts="1 4 8"
  [ "$folder" = r50 ] && counts="1 4"
  measure "$folder curl 1" curl 1 "$folder"
  for n in $counts; do
    measure "$folder installer $n" installer "$n" "$folder"
    measure "$folder aria2c $n" aria2c "$n" "$folder"
  done
done

speed() { awk -v m="$1" -v s="$2" 'BEGIN { printf "%.1f", m / s }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# goal_text FOLDER CLIENT N: the goal of an installer row and whether this run met it.
goal_text() {
  local folder=$1 n=$3 mine=${seconds[$1 $2 $3]} curl=${seconds[$1 curl 1]} aria=${seconds[$1 aria2c $3]}
  [ "$2" = installer ] || return 0
  if [ "$folder" = r4 ] && [ "$n" = 4 ]; then
    awk -v m="$mine" -v c="$curl" -v a="$aria" 'BEGIN {
      printf ">= 3.5 x curl, >= 0.9 x aria2c: %s", (c / m >= 3.5 && a / m >= 0.9) ? "met" : "missed" }'
  elif [ "$folder" = r50 ]; then
    awk -v m="$mine" -v c="$curl" -v a="$aria" 'BEGIN { f = c < a ? c : a
      printf ">= 0.95 x the faster of curl and aria2c: %s", (f / m >= 0.95) ? "met" : "missed" }'
  fi
}
row() { # row FOLDER MIB RATE CLIENT N
  local key="$1 $4 $5"
  printf '| %s MiB/s | %s MiB | %s | %s | %.2f s | %s MiB/s | %s | %s | %s | %s |\n' "$3" "$2" "$4" "$5" \
    "${seconds[$key]}" "$(speed "$2" "${seconds[$key]}")" "$(ratio "${seconds[$1 curl 1]}" "${seconds[$key]}")" \
    "$(ratio "${seconds[$1 aria2c $5]}" "${seconds[$key]}")" "${requests[$key]}" "$(goal_text "$1" "$4" "$5")"
}

echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores;" \
     "$(/usr/lib/wine/wine64 --version 2>/dev/null || echo wine), nginx $(/usr/sbin/nginx -v 2>&1 | sed 's/.*\///')," \
     "$(curl --version | head -1 | cut -d' ' -f1-2), $(aria2c --version | head -1); $(date -u +%Y-%m-%d)"
echo
echo "| limit per connection | package | client | connections | seconds (median of 3) | MiB/s | speed vs curl | speed vs aria2c (same connections) | requests (3 runs) | goal |"
echo "|---|---|---|---|---|---|---|---|---|---|"
row r4 48 4 curl 1
for n in 1 4 8; do
  row r4 48 4 installer "$n"
  row r4 48 4 aria2c "$n"
done
row r50 256 50 curl 1
for n in 1 4; do
  row r50 256 50 installer "$n"
  row r50 256 50 aria2c "$n"
done
