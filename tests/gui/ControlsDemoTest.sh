#!/usr/bin/env bash
# Drives the controls demo with real X mouse input on an Xvfb of its own: hover, press and release on
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
xvfb_pid=
failures=0

cleanup() {
  if [ -n "$demo_pid" ] && kill -0 "$demo_pid" 2>/dev/null; then
    kill "$demo_pid" 2>/dev/null
    wait "$demo_pid" 2>/dev/null
  fi
  # The demo's own prefix: its server and explorer go before their display does.
  if [ -n "${QX_WINEPREFIX:-}" ]; then
    WINEPREFIX=$QX_WINEPREFIX timeout 20 /usr/lib/wine/wineserver -k 2>/dev/null
  fi
  if [ -n "${xvfb_pid:-}" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
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

# near <"r g b"> <"r g b">: the two colours differ by at most 12 per channel.
near() {
  local a=($1) b=($2) i d
  [ ${#a[@]} -eq 3 ] || return 1
  for i in 0 1 2; do
    d=$((a[i] - b[i]))
    [ ${d#-} -le 12 ] || return 1
  done
}

# on_screen <label> <shot name> <x> <y> <"r g b">: takes screenshots until the pixel shows the
# colour (the demo repaints on its own time), at most 10 s.
on_screen() {
  local label=$1 name=$2 x=$3 y=$4 want=$5 got n=50
  while [ $n -gt 0 ]; do
    shot "$name"
    got=$(pixel "$shots/$name.png" "$x" "$y")
    if near "$got" "$want"; then
      echo "ok: $label ($got)"
      return 0
    fi
    sleep 0.2
    n=$((n - 1))
  done
  fail "$label: screen ($got) differs from skin ($want)"
}

# The demo's output without the carriage returns of its console.
logged() { tr -d '\r' < "$log" | grep -q "$1"; }
logline() { tr -d '\r' < "$log" | grep "$1"; }

shot() { import -window root "$shots/$1.png" || fail "screenshot $1"; }

# A display and a Wine prefix of its own: other tests' windows, which CTest may run at the
# same time, must not lie over the demo or get its mouse and keyboard input. Xvfb picks
# the display number itself (-displayfd), so a parallel start cannot land on the same one.
Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp -ac > "$work/display" 2>/dev/null &
xvfb_pid=$!
wait_for 20 grep -q '^[0-9]' "$work/display" || { fail "no X display"; exit 1; }
export DISPLAY=:$(head -1 "$work/display")
export QX_WINEPREFIX=$build/wineprefix-controls-demo

"$src/tools/wine-run" "$demo" 150 > "$log" 2>"$work/demo.err" &
demo_pid=$!
wait_for 180 logged '^ready' || { cat "$log" "$work/demo.err" >&2; fail "demo did not start"; exit 1; }

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
on_screen "normal frame" normal $sx $sy "$(strip 0)"

xdotool mousemove $sx $sy
on_screen "hover frame" hover $sx $sy "$(strip 1)"
logged '^action btnOneKeyInstall' && fail "hovering clicked"

xdotool mousedown 1
on_screen "pressed frame" pressed $sx $sy "$(strip 2)"
logged '^action btnOneKeyInstall' && fail "the click came before the release"
xdotool mouseup 1
wait_for 15 logged '^action btnOneKeyInstall$' && echo "ok: click on release" ||
  fail "no action after the release"
on_screen "hover frame after the click" released $sx $sy "$(strip 1)"

xdotool mousemove $((wx + lx + 6)) $((wy + ly + 6))
sleep 1
shot link-hover

xdotool mousemove $((wx + cx + 6)) $((wy + cy + 6))
sleep 0.5
xdotool click 1
wait_for 15 logged '^action ckbUserLisence 0$' && echo "ok: check box unchecked" ||
  fail "no check box action reading the new value"

# The close button asks first; Return answers the box's default button, OK.
xdotool mousemove $((wx + qx + qw / 2)) $((wy + qy + qh / 2))
sleep 0.5
xdotool click 1
if wait_for 20 bash -c "xdotool search --name '^提示$' >/dev/null 2>&1"; then
  sleep 1
  shot confirm
  for attempt in 1 2 3; do
    xdotool key Return
    wait_for 10 logged '^exit 0$' && break
  done
  if logged '^exit 0$'; then
    echo "ok: the confirmation's OK closed the demo"
  else
    fail "the demo did not end after the confirmation"
  fi
else
  fail "no confirmation box after the close button"
fi
wait_for 10 bash -c "! kill -0 $demo_pid 2>/dev/null" && demo_pid=

tr -d '\r' < "$log"
[ $failures -eq 0 ] || { echo "$failures check(s) failed; screenshots in $shots" >&2; exit 1; }
echo "screenshots in $shots"
