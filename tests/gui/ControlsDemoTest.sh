#!/usr/bin/env bash
# Drives the controls demo with real X mouse input under Xvfb: hover, press and release on
# the one-key button, a click on the check box, the close button and its confirmation.
# Checks the skin's frames on screen against the strip's own pixels and the clicks in the
# demo's output; screenshots go to <build>/screenshots/controls-demo/.
#   ControlsDemoTest.sh <controls-demo.exe> <source dir> <build dir>
set -u
demo=$1 src=$2 build=$3
shots=$build/screenshots/controls-demo
mkdir -p "$shots"
work=$(mktemp -d)
log=$work/demo.log
demo_pid=
failures=0

cleanup() {
  if [ -n "$demo_pid" ] && kill -0 "$demo_pid" 2>/dev/null; then
    kill "$demo_pid" 2>/dev/null
    wait "$demo_pid" 2>/dev/null
  fi
  [ -n "${QX_XVFB_PID:-}" ] && qx_xvfb_stop
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# wait_for <seconds> <command...>: polls every 0.1 s.
wait_for() {
  local n=$(($1 * 10))
  shift
  while [ $n -gt 0 ]; do
    "$@" && return 0
    sleep 0.1
    n=$((n - 1))
  done
  return 1
}

# pixel <png> <x> <y>: "r g b" of one pixel.
pixel() {
  convert "$1" -alpha off -crop "1x1+$2+$3" +repage -depth 8 txt:- |
    sed -n '2s/.*(\([0-9.]*\),\([0-9.]*\),\([0-9.]*\).*/\1 \2 \3/p' | awk '{printf "%d %d %d\n", $1, $2, $3}'
}

# near <label> <"r g b"> <"r g b">: the two colours differ by at most 12 per channel.
near() {
  local a=($2) b=($3) i
  for i in 0 1 2; do
    local d=$((a[i] - b[i]))
    [ ${d#-} -le 12 ] || { fail "$1: screen ($2) differs from skin ($3)"; return 1; }
  done
  echo "ok: $1 ($2)"
}

# The demo's output without the carriage returns of its console.
logged() { tr -d '\r' < "$log" | grep -q "$1"; }
logline() { tr -d '\r' < "$log" | grep "$1"; }

shot() { import -window root "$shots/$1.png" || fail "screenshot $1"; }

. "$src/tools/xvfb-lib.sh"
if [ -z "${DISPLAY:-}" ]; then
  qx_xvfb_start || exit 1
fi

"$src/tools/wine-run" --prefix "$build/wineprefix" "$demo" 90 > "$log" 2>"$work/demo.err" &
demo_pid=$!
wait_for 60 logged '^ready' || { cat "$log" "$work/demo.err" >&2; fail "demo did not start"; exit 1; }

read -r _ wx wy _ _ < <(logline '^window ')
place() { logline "^place $1 " | cut -d' ' -f3-; }
read -r bx by bw bh < <(place oneKey)
read -r cx cy _ _ < <(place check)
read -r lx ly _ _ < <(place link)
read -r qx qy qw qh < <(place close)

# A point on the one-key button's face left of its text (window coordinates), the same
# point in each frame of the skin's strip, and on the screen.
px=$((bx + 12)) py=$((by + bh / 2))
sx=$((wx + px)) sy=$((wy + py))
skin=$src/resources/res/btnOneKeyInstall.png
strip() { pixel "$skin" $(($1 * bw + 12)) $((bh / 2)); }

xdotool mousemove $((wx + 20)) $((wy + 300))
sleep 1
shot normal
near "normal frame" "$(pixel "$shots/normal.png" $sx $sy)" "$(strip 0)"

xdotool mousemove $sx $sy
sleep 1
shot hover
near "hover frame" "$(pixel "$shots/hover.png" $sx $sy)" "$(strip 1)"
logged '^action btnOneKeyInstall' && fail "hovering clicked"

xdotool mousedown 1
sleep 1
shot pressed
near "pressed frame" "$(pixel "$shots/pressed.png" $sx $sy)" "$(strip 2)"
logged '^action btnOneKeyInstall' && fail "the click came before the release"
xdotool mouseup 1
wait_for 5 logged '^action btnOneKeyInstall$' && echo "ok: click on release" ||
  fail "no action after the release"
sleep 0.5
shot released
near "hover frame after the click" "$(pixel "$shots/released.png" $sx $sy)" "$(strip 1)"

xdotool mousemove $((wx + lx + 6)) $((wy + ly + 6))
sleep 1
shot link-hover

xdotool mousemove $((wx + cx + 6)) $((wy + cy + 6))
sleep 0.5
xdotool click 1
wait_for 5 logged '^action ckbUserLisence 0$' && echo "ok: check box unchecked" ||
  fail "no check box action reading the new value"

xdotool mousemove $((wx + qx + qw / 2)) $((wy + qy + qh / 2))
sleep 0.5
xdotool click 1
sleep 2
shot confirm
xdotool key Return
if wait_for 15 logged '^exit 0$'; then
  echo "ok: the confirmation's OK closed the demo"
else
  fail "the demo did not end after the confirmation"
fi
wait_for 10 bash -c "! kill -0 $demo_pid 2>/dev/null" && demo_pid=

tr -d '\r' < "$log"
[ $failures -eq 0 ] || { echo "$failures check(s) failed; screenshots in $shots" >&2; exit 1; }
echo "screenshots in $shots"
