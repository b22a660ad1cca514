#!/usr/bin/env bash
# The desktop program's cost when the machine is idle at its READY prompt: the whole process and
# its GUI thread (the painting), in percent of one core over a few seconds, and how often each of
# its threads wakes (voluntary context switches a second), under a private Xvfb server (offscreen
# when Xvfb is missing).
# Usage: bench/idle_window.sh <build folder> [seconds] [rounds] [other lunabrik programs...]
# Other programs (an older build, say) are measured in the same run, alternated with this one, so
# that a busy machine weighs on all alike. Prints one line per program, speed and round; exit
# status 0 when an idle machine at a real ABC80's pace costs this build's process at most 1.5 % of
# a core and the painting at most 1 % at full speed (the median of the rounds), 2 when missed.
set -uo pipefail
build=${1:?usage: bench/idle_window.sh <build folder> [seconds] [rounds] [programs...]}
seconds=${2:-10}
rounds=${3:-1}
shift $(( $# < 3 ? $# : 3 ))
program=$(cd "$build" && pwd)/shell/lunabrik
programs=("$program" "$@")
run=$(cd "$build" && pwd)/run
for p in "${programs[@]}"; do [ -x "$p" ] || { echo "missing $p" >&2; exit 1; }; done
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
cpu() { sed 's/.*) //' "$1" | awk '{print $12 + $13}'; }
# "thread:switches:ticks ..." for every thread of a process (named by its name and its place
# among the threads), the voluntary context switches and the CPU time so far.
wakes() {
  local i=0
  for t in /proc/"$1"/task/*; do
    i=$((i + 1))
    printf '%s#%d:%s:%s ' "$(tr ' ' '_' <"$t/comm")" "$i" \
      "$(awk '/^voluntary_ctxt_switches/ {print $2}' "$t/status")" "$(cpu "$t/stat")"
  done
}

# One run: percent of a core for the process and for its GUI thread, then the wake-ups a second.
measure() {
  local program=$1 waitstates=$2 work=$tmp/work
  rm -rf "$work"; mkdir -p "$work"
  cp "$run"/basic.rom "$run"/dev_dos.rom "$run"/font.bin "$work"/
  python3 -c "import struct,sys; open(sys.argv[1],'wb').write(struct.pack('<i',$waitstates)+b'Files/'+bytes(250))" \
    "$work/Lunabrik.cfg"
  (cd "$work" && HOME=$work XDG_CONFIG_HOME=$work/.config exec "$program" >/dev/null 2>&1) &
  local pid=$!
  sleep 4 # start-up and the BASIC's greeting
  local p0 g0 p1 g1 w0 w1
  p0=$(cpu /proc/$pid/stat); g0=$(cpu /proc/$pid/task/$pid/stat); w0=$(wakes $pid)
  sleep "$seconds"
  p1=$(cpu /proc/$pid/stat); g1=$(cpu /proc/$pid/task/$pid/stat); w1=$(wakes $pid)
  kill "$pid"; wait "$pid" 2>/dev/null
  python3 - "$w0" "$w1" <<PY
import sys
def parse(s): return dict((k, (int(w), int(c))) for k, w, c in (p.split(':') for p in s.split()))
a, b = parse(sys.argv[1]), parse(sys.argv[2])
w = ', '.join(f'{k} {(b[k][0] - a.get(k, (0, 0))[0]) / $seconds:.0f}/s {100 * (b[k][1] - a.get(k, (0, 0))[1]) / $hz / $seconds:.2f} %'
              for k in b if b[k] != a.get(k))
print(f'{100*($p1-$p0)/$hz/$seconds:.1f} {100*($g1-$g0)/$hz/$seconds:.1f} {w}')
PY
}

real_mine=()
fast_mine=()
for round in $(seq 1 "$rounds"); do
  for p in "${programs[@]}"; do
    read -r real_process real_gui real_wakes <<<"$(measure "$p" -1)"
    read -r fast_process fast_gui fast_wakes <<<"$(measure "$p" 0)"
    echo "round $round, $p"
    echo "  real pace: process ${real_process} % of a core, painting thread ${real_gui} %; threads (wake-ups a second, share of a core): ${real_wakes}"
    echo "  full speed: process ${fast_process} % of a core, painting thread ${fast_gui} %"
    if [ "$p" = "$program" ]; then
      real_mine+=("$real_process")
      fast_mine+=("$fast_gui")
    fi
  done
done
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
real_process=$(median "${real_mine[@]}")
fast_gui=$(median "${fast_mine[@]}")
echo "idle window at a real ABC80's pace: process ${real_process} % of a core (median of $rounds)"
echo "idle window at full speed: painting thread ${fast_gui} % (median of $rounds)"
met=$(python3 -c "print(int($real_process <= 1.5 and $fast_gui <= 1))")
echo "idle window: goal process <= 1.5 % at real pace, painting <= 1 % at full speed: $([ "$met" = 1 ] && echo met || echo MISSED)"
[ "$met" = 1 ] || exit 2
