#!/usr/bin/env bash
# Runs the downloader test against nginx, odd-server.py and tinyproxy on loopback (the
# engine's policy under faults is proven by its simulation; the end-to-end tests run the
# fault relays):
#   with-servers.sh <test program> [runner...]
# Every server gets a free port and a temporary root; they are stopped and the root is
# removed when the test ends, also when it fails or times out.
set -u
program=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
. "$here/servers-lib.sh"
root=$(mktemp -d "${TMPDIR:-/tmp}/qx-http.XXXXXX") || exit 1
pids=()
stop() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$root"
}
trap stop EXIT
# Loopback only: a proxy from the environment would take the requests elsewhere.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY

mkdir -p "$root/www"
chmod 755 "$root" "$root/www"
head -c $((3 * 1024 * 1024 + 12345)) /dev/urandom >"$root/www/package.bin"
chmod 644 "$root/www"/*
# A target on a full disk: the device itself, since the downloader writes through no link.
mkdir -p "$root/full"
mknod "$root/full/setup.exe" c 1 7

qx_nginx_start "$root/nginx" "$root/www" || exit 1
pids+=("$QX_NGINX_PID")

# port_of NAME: the port a server wrote to $root/NAME.port.
port_of() {
  for _ in $(seq 50); do
    [ -s "$root/$1.port" ] && break
    sleep 0.1
  done
  [ -s "$root/$1.port" ] || { echo "$1 did not start" >&2; return 1; }
  cat "$root/$1.port"
}

python3 "$here/odd-server.py" "$root/www" "$root/odd.port" "$root/odd.log" &
pids+=("$!")
odd_port=$(port_of odd) || exit 1
qx_wait_port "$odd_port" || { echo "odd-server.py does not answer" >&2; exit 1; }
: >"$root/odd.log"

proxy_port=$(qx_free_port)
"$here/../support/tinyproxy.sh" "$root/tinyproxy" "$proxy_port" &
pids+=("$!")
qx_wait_port "$proxy_port" || { echo "tinyproxy did not start" >&2; exit 1; }
# A configuration script: the package server's second address goes through the proxy.
cat >"$root/www/proxy.pac" <<PAC
function FindProxyForURL(url, host) {
  if (host == "127.0.0.2") return "PROXY 127.0.0.1:$proxy_port; DIRECT";
  return "DIRECT";
}
PAC
chmod 644 "$root/www/proxy.pac"

export QX_HTTP_BASE="http://127.0.0.1:$QX_NGINX_PORT"
export QX_HTTP_LOG="$root/nginx/access.log"
export QX_ODD_BASE="http://127.0.0.1:$odd_port"
export QX_ODD_LOG="$root/odd.log"
export QX_HTTP_ROOT="$root/www"
export QX_FULL_TARGET="$root/full/setup.exe"
export QX_CLOSED_PORT=$(qx_free_port)
export QX_PROXY="127.0.0.1:$proxy_port"
export QX_PROXY_LOG="$root/tinyproxy/tinyproxy.log"
export QX_PROXIED_BASE="http://127.0.0.2:$QX_NGINX_PORT"

qx_run_gtest "$root/report.xml" "$program" "$@"
