#!/usr/bin/env bash
# Runs the benchmarks of a built tree and prints a short summary; builds nothing (`make bench`
# builds the bench target first). Usage: bench/run.sh <build folder> [processor bench options]
# e.g. bench/run.sh build/release --rounds 7. Exit status 0 when every result checks out and every
# goal is met: both workloads against libz80ex, the frame time, real-speed accuracy and idle use,
# the debugger's cost, every front end against the bare loop, the free BASIC's PCW benchmark
# times and loop rates, and the WebAssembly core's speed when make web has built it; with
# LUNABRIK_PEER_Z80EMU=<folder of the z80emu sources>, both workloads against that interpreter too
# (bench/peer_z80emu.sh, which builds its own target).
set -uo pipefail
build=${1:?usage: bench/run.sh <build folder> [--rounds N] [--passes N]}
shift
cpu_bench=$build/bench/lunabrik_cpu_bench
kernels_bench=$build/bench/lunabrik_kernels_bench
realspeed_bench=$build/bench/lunabrik_realspeed_bench
paste_bench=$build/bench/lunabrik_paste_bench
debugger_bench=$build/bench/lunabrik_debugger_bench
for program in "$cpu_bench" "$kernels_bench" "$realspeed_bench" "$paste_bench" "$debugger_bench"; do
  if [ ! -x "$program" ]; then
    echo "missing $program: build the bench target first" >&2
    exit 1
  fi
done
frame_goal_ns=5000
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

echo "== processor loop against libz80ex: both workloads, then the instruction families"
"$cpu_bench" --families "$@" | tee "$tmp/cpu.txt"
cpu_status=${PIPESTATUS[0]}

# The same workloads against z80emu, a generic Z80 interpreter, when the user names its sources'
# folder in LUNABRIK_PEER_Z80EMU (bench/peer_z80emu.sh builds it with our release flags).
peer_status=0
if [ -n "${LUNABRIK_PEER_Z80EMU:-}" ]; then
  echo
  echo "== processor loop against z80emu"
  "$(dirname "$0")/peer_z80emu.sh" "$LUNABRIK_PEER_Z80EMU" "$build" "$@" | tee "$tmp/peer.txt"
  peer_status=${PIPESTATUS[0]}
fi

echo
echo "== real speed"
"$realspeed_bench" | tee "$tmp/realspeed.txt"
realspeed_status=${PIPESTATUS[0]}

echo
echo "== paste through the key pacer"
"$paste_bench" | tee "$tmp/paste.txt"
paste_status=${PIPESTATUS[0]}

echo
echo "== the debugger's cost: detached, with breakpoints, with a memory watch"
"$debugger_bench" | tee "$tmp/debugger.txt"
debugger_status=${PIPESTATUS[0]}

echo
echo "== the window, idle"
"$(dirname "$0")/idle_window.sh" "$build" | tee "$tmp/idle_window.txt"
idle_window_status=${PIPESTATUS[0]}

echo
echo "== the window's key-to-screen latency"
if [ -x "$build/bench/lunabrik_key_latency" ]; then
  "$(dirname "$0")/key_latency.sh" "$build" 35 1 | tee "$tmp/key_latency.txt"
  latency_status=${PIPESTATUS[0]}
else
  echo "key latency: not built (no X11 headers)" | tee "$tmp/key_latency.txt"
  latency_status=0
fi

echo
echo "== the WebAssembly core under Node (make web)"
web=$(dirname "$0")/../build/web
if [ -f "$web/lunabrik.js" ] && command -v node >/dev/null; then
  node "$(dirname "$0")/web_speed.mjs" "$web" | tee "$tmp/web.txt"
  web_status=${PIPESTATUS[0]}
else
  echo "web: not built (make web)" | tee "$tmp/web.txt"
  web_status=0
fi

echo
echo "== every front end on the same saved machine against the bare loop"
"$(dirname "$0")/frontends.sh" "$build" | tee "$tmp/frontends.txt"
frontends_status=${PIPESTATUS[0]}
echo "== the free BASIC at a real ABC80's pace: PCW benchmarks (emulated seconds), loop rates"
here=$(dirname "$0")
"$here/pcw_basic.sh" "$build/tools/lunabrik-headless" "$build/images" "$build/images/font.bin" \
  "$here/pcw_basic.goals" | tee "$tmp/pcw.txt"
pcw_status=${PIPESTATUS[0]}
"$here/basic_loops.sh" "$build/tools/lunabrik-headless" "$build/images" "$build/images/font.bin" \
  "$here/basic_loops.goals" | tee "$tmp/loops.txt"
loops_status=${PIPESTATUS[0]}

echo
echo "== kernels"
"$kernels_bench" --benchmark_out="$tmp/kernels.csv" --benchmark_out_format=csv
kernels_status=$?

# The frame time in ns from the CSV row of BM_RenderFrame (name,iterations,real_time,cpu_time,
# time_unit): wall and processor time. The goal is judged on processor time, the frame's own cost,
# which other work on a shared machine does not inflate the way it does wall time.
frame_times=$(awk -F, '$1 == "\"BM_RenderFrame\"" || $1 == "BM_RenderFrame" {
    u = $5; gsub(/"/, "", u)
    k = 1; if (u == "us") k = 1e3; else if (u == "ms") k = 1e6; else if (u == "s") k = 1e9
    printf "%.0f %.0f", $3 * k, $4 * k }' "$tmp/kernels.csv" 2>/dev/null)
read -r frame_wall_ns frame_cpu_ns <<<"$frame_times"

echo
echo "== summary"
status=0
# One part's summary: the lines its output matched (with a prefix), or FAILED when none did; a
# non-zero exit status of the part fails the whole.
summarize() { # name exit_status prefix lines
  local name=$1 part_status=$2 prefix=$3 lines=$4
  if [ -n "$lines" ]; then
    echo "$lines" | sed "s/^/$prefix/"
    [ "$part_status" -eq 0 ] || status=1
  else
    echo "$name: FAILED (exit status $part_status), see above"
    status=1
  fi
}
summarize processor "$cpu_status" "processor, workload " \
  "$(grep '^median ' "$tmp/cpu.txt" | sed 's/^median //')"
if [ -n "${LUNABRIK_PEER_Z80EMU:-}" ]; then
  summarize z80emu "$peer_status" "against z80emu, " \
    "$(grep -E '^(median|  z80emu|  goal)' "$tmp/peer.txt" | sed 's/^ *//')"
fi
summarize "real speed" "$realspeed_status" "real speed, " \
  "$(grep -E '^(accuracy: wall|idle:)' "$tmp/realspeed.txt")"
summarize paste "$paste_status" "" "$(grep -E '^paste: ' "$tmp/paste.txt")"
summarize debugger "$debugger_status" "" "$(grep -E '^debugger: ' "$tmp/debugger.txt")"
summarize "idle window" "$idle_window_status" "" "$(grep -E '^idle window: ' "$tmp/idle_window.txt")"
summarize "key latency" "$latency_status" "" "$(grep -E '^key latency' "$tmp/key_latency.txt")"
summarize "PCW benchmarks" "$pcw_status" "free BASIC, PCW " "$(grep -E '^bm[1-8] ' "$tmp/pcw.txt")"
summarize "loop rates" "$loops_status" "free BASIC, loop " "$(grep -E '^[a-z_]+ +[0-9]+ ' "$tmp/loops.txt")"
summarize web "$web_status" "" "$(grep -E '^web: ' "$tmp/web.txt")"
summarize "front ends" "$frontends_status" "front end, " "$(grep -E 'goal <=' "$tmp/frontends.txt")"
if [ -n "${frame_cpu_ns:-}" ] && [ "$kernels_status" -eq 0 ]; then
  if [ "$frame_cpu_ns" -le "$frame_goal_ns" ]; then verdict=met; else verdict=MISSED; status=1; fi
  echo "frame: RenderFrame ${frame_cpu_ns} ns processor time (wall ${frame_wall_ns} ns);" \
    "goal <= ${frame_goal_ns} ns: $verdict"
else
  echo "frame: FAILED (kernels exit status $kernels_status), see above"
  status=1
fi
exit $status
