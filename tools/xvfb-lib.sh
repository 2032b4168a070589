# Sourced: qx_xvfb_start picks a free display number, starts Xvfb on it and exports
# DISPLAY; qx_xvfb_stop ends it. Bounded waits only.
qx_xvfb_start() {
  local n
  for n in $(seq 90 190); do
    [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ] && continue
    Xvfb :$n -screen 0 1280x1024x24 -nolisten tcp -ac >/dev/null 2>&1 &
    QX_XVFB_PID=$!
    local i
    for i in $(seq 1 100); do
      if [ -e /tmp/.X11-unix/X$n ]; then
        export DISPLAY=:$n
        return 0
      fi
      kill -0 $QX_XVFB_PID 2>/dev/null || break
      sleep 0.05
    done
    kill $QX_XVFB_PID 2>/dev/null
  done
  echo "xvfb: no display could be started" >&2
  return 1
}
qx_xvfb_stop() {
  [ -n "${QX_XVFB_PID:-}" ] && kill $QX_XVFB_PID 2>/dev/null && wait $QX_XVFB_PID 2>/dev/null
  QX_XVFB_PID=
}
