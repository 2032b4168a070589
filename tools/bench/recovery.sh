#!/usr/bin/env bash
# The downloader's recovery, measured: a package fetched by AsyncWinHttp (under Wine)
# through the fault relay of the tests, once passing everything (best of three) and once
# cutting every connection after 16 MiB. The cut run must end byte-identical, and take
# at most the clean time plus the retries' waits (from the relay's log) plus 20 %.
# Usage: tools/bench/recovery.sh [x86_64 build] [size in MiB]; prints one table row.
# Run by tools/bench/bench.sh; on its own it needs DISPLAY unset or an X display, and
# uses the Wine prefix named by QX_WINEPREFIX (else <x86_64 build>/bench-prefix).
set -u
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$src/build/x86_64}" && pwd) || exit 1
mib=${2:-256}
cut=$((16 << 20))
bench=$build/tools/bench/download_bench.exe
[ -f "$bench" ] || { echo "no $bench: build it first" >&2; exit 1; }
. "$src/tests/download/servers-lib.sh"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
export QX_WINEPREFIX=${QX_WINEPREFIX:-$build/bench-prefix}

root=$(mktemp -d "${TMPDIR:-/tmp}/qx-recovery-bench.XXXXXX") || exit 1
relay_pid=
stop() {
  [ -n "$relay_pid" ] && kill "$relay_pid" 2>/dev/null
  [ -n "${QX_NGINX_PID:-}" ] && { kill "$QX_NGINX_PID" 2>/dev/null; wait "$QX_NGINX_PID" 2>/dev/null; }
  rm -rf "$root"
}
trap stop EXIT
mkdir -p "$root/www"
chmod 755 "$root" "$root/www"
head -c $((mib << 20)) /dev/urandom >"$root/www/package.bin"
chmod 644 "$root/www/package.bin"
bytes=$(stat -c %s "$root/www/package.bin")
qx_nginx_start "$root/nginx" "$root/www" || exit 1
win_path() { local p=${1//\//\\}; echo "Z:$p"; }

# relay <log> [modes...]: starts the relay in front of nginx; sets relay_port.
relay() {
  local log=$1
  shift
  [ -n "$relay_pid" ] && { kill "$relay_pid" 2>/dev/null; wait "$relay_pid" 2>/dev/null; }
  rm -f "$root/relay.port"
  python3 "$src/tests/support/fault_proxy.py" --target "127.0.0.1:$QX_NGINX_PORT" --log "$log" \
    --port-file "$root/relay.port" --max-seconds 600 "$@" &
  relay_pid=$!
  for _ in $(seq 50); do [ -s "$root/relay.port" ] && break; sleep 0.1; done
  relay_port=$(cat "$root/relay.port")
}
# fetch: one download through the relay; prints its seconds, or fails when it is not
# the package byte for byte.
fetch() {
  local line
  line=$("$src/tools/wine-run" "$bench" get "http://127.0.0.1:$relay_port/package.bin" \
         "$(win_path "$root/got.bin")" "$bytes" | tr -d '\r')
  [ "${line%% *}" = "$bytes" ] && cmp -s "$root/got.bin" "$root/www/package.bin" || {
    echo "the download through the relay is not the package: $line" >&2
    return 1
  }
  echo "${line##* }"
}

relay "$root/clean.log"
fetch >/dev/null || exit 1   # warms the prefix and the page cache
clean=$( { fetch && fetch && fetch; } | sort -g | head -1) || exit 1
relay "$root/cut.log" --cut-every "$cut"
cut_seconds=$(fetch) || exit 1
# The waits: from each cut to the next connection.
read -r waits cuts < <(awk '$3 == "cut" { at = $1; n++ } $3 == "accept" && at { w += $1 - at; at = 0 }
                            END { printf "%.3f %d\n", w, n }' "$root/cut.log")
budget=$(awk -v c="$clean" -v w="$waits" 'BEGIN { printf "%.3f", (c + w) * 1.2 }')
ratio=$(awk -v t="$cut_seconds" -v c="$clean" -v w="$waits" 'BEGIN { printf "%.2f", t / (c + w) }')
printf "| %d MiB through the fault relay cutting every connection after 16 MiB (%d cuts), vs uncut plus the retries' waits | %.2f s | %.2f s + %.2f s | %s | <= 1.20 |\n" "$mib" "$cuts" "$cut_seconds" "$clean" "$waits" "$ratio"
awk -v t="$cut_seconds" -v b="$budget" 'BEGIN { exit !(t <= b) }'
