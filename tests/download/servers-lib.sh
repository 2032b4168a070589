# Loopback nginx for the download tests and the benchmark, and the tests' runner; source
# it from bash.
#   qx_free_port               prints a free loopback port
#   qx_wait_port PORT          waits up to 5 s for a listener
#   qx_nginx_start DIR WWW [DIRECTIVES]
#                              nginx for WWW (tests/support/peers.py writes its config) with
#                              logs and temp files in DIR; sets QX_NGINX_PORT and QX_NGINX_PID;
#                              DIRECTIVES go into its server block (for example
#                              'location /slow/ { limit_rate 16m; }')
# The caller stops it: kill "$QX_NGINX_PID"; wait "$QX_NGINX_PID".
#   qx_run_gtest REPORT PROGRAM [RUNNER...]
#                              runs a test program (under RUNNER, Wine, when given); fails
#                              unless the program's XML report, REPORT, shows a clean end

qx_support=$(cd "$(dirname "${BASH_SOURCE[0]}")/../support" && pwd)

qx_free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

qx_wait_port() {
  local _
  for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

qx_nginx_start() {
  local dir=$1 www=$2 directives=${3:-} candidate pid _
  mkdir -p "$dir"
  for _ in 1 2 3; do
    candidate=$(qx_free_port) || return 1
    python3 "$qx_support/peers.py" nginx "$dir" "$www" "$candidate" "$directives" &
    pid=$!
    if qx_wait_port "$candidate" && kill -0 "$pid" 2>/dev/null; then
      QX_NGINX_PORT=$candidate
      QX_NGINX_PID=$pid
      return 0
    fi
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  echo "nginx did not start:" >&2
  cat "$dir/error.log" >&2
  return 1
}

qx_run_gtest() {
  local report=$1 program=$2 rc
  shift 2
  local out=$report
  # Under Wine the Linux file system is drive Z:.
  [ $# -gt 0 ] && out="Z:${report//\//\\}"
  # A crash under Wine does not always show in the exit code: the XML report is written
  # only by a run that got to its end.
  timeout 240 "$@" "$program" --gtest_color=no "--gtest_output=xml:$out"
  rc=$?
  [ "$rc" = 0 ] || return "$rc"
  grep -q '<testsuites[^>]* failures="0"[^>]* errors="0"' "$report" 2>/dev/null || {
    echo "the test program ended without a clean report" >&2
    return 1
  }
}
