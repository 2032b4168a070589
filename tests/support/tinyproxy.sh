#!/usr/bin/env bash
# tinyproxy in the foreground as the player's HTTP proxy for tests, on loopback:
#   tinyproxy.sh DIR PORT     config and log in DIR; every request is logged to
#                             DIR/tinyproxy.log ("Request (file descriptor N): GET URL ...")
# It ends when killed, and by itself after 280 s.
set -eu
dir=$1 port=$2
mkdir -p "$dir"
cat >"$dir/tinyproxy.conf" <<CONF
Port $port
Listen 127.0.0.1
Timeout 30
LogFile "$dir/tinyproxy.log"
LogLevel Connect
PidFile "$dir/tinyproxy.pid"
MaxClients 16
Allow 127.0.0.1
DisableViaHeader Yes
CONF
: >"$dir/tinyproxy.log"
exec timeout 280 tinyproxy -d -c "$dir/tinyproxy.conf"
