#!/usr/bin/env bash
# The desktop program's cost when the machine is idle at its READY prompt: the whole process and
# its GUI thread (the painting), in percent of one core over a few seconds, under a private Xvfb
# server (offscreen when Xvfb is missing). Usage: bench/idle_window.sh <build folder> [seconds]
# Prints one line per speed; exit status 0 when an idle machine at a real ABC80's pace costs the
# process at most 3 % of a core and the painting at most 1 % at full speed, 2 when missed.
set -uo pipefail
build=${1:?usage: bench/idle_window.sh <build folder> [seconds]}
seconds=${2:-10}
program=$(cd "$build" && pwd)/shell/lunabrik
run=$(cd "$build" && pwd)/run
[ -x "$program" ] || { echo "missing $program" >&2; exit 1; }
tmp=$(mktemp -d)
server=""
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
if command -v Xvfb >/dev/null; then
  display=:$((100 + RANDOM % 800))
  Xvfb "$display" -screen 0 1920x1080x24 >/dev/null 2>&1 &
  server=$!
  sleep 1
  export DISPLAY=$display QT_QPA_PLATFORM=xcb
else
  export QT_QPA_PLATFORM=offscreen
fi
hz=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "$1"; }

# One run: percent of a core for the process and for its GUI thread.
measure() {
  local work=$tmp/$1
  mkdir -p "$work"
  cp "$run"/basic.rom "$run"/dev_dos.rom "$run"/font.bin "$work"/
  python3 -c "import struct,sys; open(sys.argv[1],'wb').write(struct.pack('<i',$1)+b'Files/'+bytes(250))" \
    "$work/Lunabrik.cfg"
  (cd "$work" && HOME=$work XDG_CONFIG_HOME=$work/.config exec "$program" >/dev/null 2>&1) &
  local pid=$!
  sleep 4 # start-up and the BASIC's greeting
  local p0 g0 p1 g1
  p0=$(cpu /proc/$pid/stat); g0=$(cpu /proc/$pid/task/$pid/stat)
  sleep "$seconds"
  p1=$(cpu /proc/$pid/stat); g1=$(cpu /proc/$pid/task/$pid/stat)
  kill "$pid"; wait "$pid" 2>/dev/null
  python3 -c "print(f'{100*($p1-$p0)/$hz/$seconds:.1f} {100*($g1-$g0)/$hz/$seconds:.1f}')"
}

read -r real_process real_gui <<<"$(measure -1)"
read -r fast_process fast_gui <<<"$(measure 0)"
echo "idle window at a real ABC80's pace: process ${real_process} % of a core, painting thread ${real_gui} %"
echo "idle window at full speed: process ${fast_process} % of a core, painting thread ${fast_gui} %"
met=$(python3 -c "print(int($real_process <= 3 and $fast_gui <= 1))")
echo "idle window: goal process <= 3 % at real pace, painting <= 1 % at full speed: $([ "$met" = 1 ] && echo met || echo MISSED)"
[ "$met" = 1 ] || exit 2
