# Sourced by the benchmarks that run Windows programs:
#   qx_bench_begin NAME   makes the run's folder (sets root), starts an Xvfb when DISPLAY
#                         is unset and one Wine session (prefix $QX_WINEPREFIX) for the
#                         whole run; all of it, and nginx when started, ends on exit
qx_bench_tools=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

qx_bench_begin() {
  root=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX") || return 1
  trap qx_bench_end EXIT
  if [ -z "${DISPLAY:-}" ]; then
    . "$qx_bench_tools/xvfb-lib.sh"
    qx_xvfb_start || return 1
  fi
  # As the test command has it: a session ending between two programs would leave the
  # next one starting into a server on its way out.
  "$qx_bench_tools/wine-prefix" "$QX_WINEPREFIX" && "$qx_bench_tools/wine-run" --session
}

qx_bench_end() {
  [ -n "${QX_NGINX_PID:-}" ] && { kill "$QX_NGINX_PID" 2>/dev/null; wait "$QX_NGINX_PID" 2>/dev/null; }
  WINEPREFIX=$QX_WINEPREFIX timeout 20 /usr/lib/wine/wineserver -k 2>/dev/null
  declare -F qx_xvfb_stop >/dev/null && qx_xvfb_stop
  rm -rf "$root"
}
