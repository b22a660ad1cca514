#!/usr/bin/env bash
# Screenshot check under a real X server: starts Xvfb (with openbox when it is installed), runs
# lunabrik in a copy of the run folder (at its real ABC80 pace) with fresh preferences and no
# saved machine to resume, types a BASIC program into its
# window with xdotool on a US keyboard layout (the natural keyboard mode types what the layout
# gives), and saves a picture of the screen.
#
#   scripts/screenshot.sh [build folder] [output PNG] [screen WIDTHxHEIGHT]
#   defaults: build/release, docs/screenshot.png and 1920x1080
#   QT_SCALE_FACTOR=2 in the environment gives a screen of 2 device pixels per pixel.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
out=${2:-$root/docs/screenshot.png}
screen=${3:-1920x1080}
exe=$build/shell/lunabrik
run=$build/run

[ -x "$exe" ] || { echo "screenshot: no $exe; build first (make build)" >&2; exit 1; }
for f in basic.rom dev_dos.rom font.bin; do
  [ -f "$run/$f" ] || { echo "screenshot: no $f in $run" >&2; exit 1; }
done
for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || { echo "screenshot: $tool is missing (make deps)" >&2; exit 1; }
done

# A free display number.
n=99
while [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ]; do n=$((n + 1)); done
export DISPLAY=:$n

runtime=$(mktemp -d)
chmod 700 "$runtime"
export XDG_RUNTIME_DIR=$runtime
export XDG_CONFIG_HOME=$runtime/config # first start: no remembered window or scale
export XDG_DATA_HOME=$runtime/data     # and no machine of the user's to resume
mkdir -p "$runtime/run/Files"
cp "$run/basic.rom" "$run/dev_dos.rom" "$run/font.bin" "$runtime/run/"
[ -f "$run/Lunabrik.cfg" ] && cp "$run/Lunabrik.cfg" "$runtime/run/"
xvfb_pid=""
wm_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$runtime"
}
trap cleanup EXIT

Xvfb "$DISPLAY" -screen 0 "${screen}x24" -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
if command -v openbox >/dev/null; then
  openbox >/dev/null 2>&1 &
  wm_pid=$!
  sleep 0.5
fi
command -v setxkbmap >/dev/null && setxkbmap us

(cd "$runtime/run" && QT_QPA_PLATFORM=xcb exec "$exe") &
app_pid=$!

window=""
for _ in $(seq 100); do
  window=$(xdotool search --onlyvisible --name '^Lunabrik$' 2>/dev/null | head -n 1 || true)
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || { echo "screenshot: the Lunabrik window did not appear" >&2; exit 1; }

sleep 1 # the ROM starts up
# The natural keyboard mode: characters as the US layout types them ("+", "=" and the quotes
# sit elsewhere on a Swedish keyboard).
# Real key events (XTEST) to the focused window, as a keyboard would send them.
xdotool windowactivate --sync "$window" 2>/dev/null || true
xdotool mousemove --window "$window" 100 100 click 1
xdotool type --delay 40 '10 PRINT "HELLO FROM LUNABRIK, 2+3=";2+3'
xdotool key Return
xdotool type --delay 40 '20 FOR I=1 TO 3: PRINT I*I: NEXT I'
xdotool key Return
xdotool type --delay 40 'RUN'
xdotool key Return
sleep 3 # the program runs, and the speed shown settles over a second of its own

mkdir -p "$(dirname "$out")"
import -window root "$out"
echo "screenshot: $out"

# Quit by the menu's shortcut, as a user would; the program must end by itself with exit code 0.
xdotool key alt+F4
for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$app_pid" 2>/dev/null; then
  echo "screenshot: lunabrik did not end after Quit" >&2
  exit 1
fi
wait "$app_pid" && status=0 || status=$?
app_pid=""
[ "$status" -eq 0 ] || { echo "screenshot: lunabrik ended with exit code $status" >&2; exit 1; }
