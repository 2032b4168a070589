# Sourced: qx_xvfb_start starts an Xvfb on a display number of its own choosing (so
# parallel callers never share one) and exports DISPLAY; qx_xvfb_stop ends it.
# Bounded waits only.
qx_xvfb_start() {
  local fifo
  fifo=$(mktemp -u "${TMPDIR:-/tmp}/qx-xvfb.XXXXXX")
  mkfifo "$fifo" || return 1
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -ac 3>"$fifo" >/dev/null 2>&1 &
  QX_XVFB_PID=$!
  local number
  number=$(timeout 20 head -n 1 "$fifo")
  rm -f "$fifo"
  if [ -z "$number" ] || ! kill -0 "$QX_XVFB_PID" 2>/dev/null; then
    echo "xvfb: no display could be started" >&2
    kill "$QX_XVFB_PID" 2>/dev/null
    return 1
  fi
  export DISPLAY=:$number
}
qx_xvfb_stop() {
  [ -n "${QX_XVFB_PID:-}" ] && kill "$QX_XVFB_PID" 2>/dev/null && wait "$QX_XVFB_PID" 2>/dev/null
  QX_XVFB_PID=
}
