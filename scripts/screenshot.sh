#!/usr/bin/env bash
# Screenshot check under a real X server: starts Xvfb, runs lunabrik in the run folder, types a
# BASIC line into its window with xdotool, and saves a picture of the window.
#
#   scripts/screenshot.sh [build folder] [output PNG]
#   defaults: build/release and docs/screenshot.png
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
out=${2:-$root/docs/screenshot.png}
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
export XDG_RUNTIME_DIR=$runtime
xvfb_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$runtime"
}
trap cleanup EXIT

Xvfb "$DISPLAY" -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

(cd "$run" && QT_QPA_PLATFORM=xcb exec "$exe") &
app_pid=$!

window=""
for _ in $(seq 100); do
  window=$(xdotool search --name '^Lunabrik$' 2>/dev/null | head -n 1 || true)
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || { echo "screenshot: the Lunabrik window did not appear" >&2; exit 1; }

sleep 1 # the ROM starts up
# Keys go by position: the emulated keyboard is Swedish, so the double quote is Shift+2.
xdotool mousemove --window "$window" 100 100 click 1
xdotool type --delay 60 --window "$window" '10 PRINT '
xdotool key --delay 60 --window "$window" shift+2
xdotool type --delay 60 --window "$window" 'HEJ FRAN LUNABRIK'
xdotool key --delay 60 --window "$window" shift+2 Return
xdotool type --delay 60 --window "$window" 'RUN'
xdotool key --window "$window" Return
sleep 1

mkdir -p "$(dirname "$out")"
import -window "$window" "$out"
echo "screenshot: $out"

# Quit by its button, as a user would; the program must end by itself with exit code 0.
xdotool mousemove --window "$window" 282 120 click 1
for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$app_pid" 2>/dev/null; then
  echo "screenshot: lunabrik did not end after Quit" >&2
  exit 1
fi
wait "$app_pid" && status=0 || status=$?
app_pid=""
[ "$status" -eq 0 ] || { echo "screenshot: lunabrik ended with exit code $status" >&2; exit 1; }
