#!/usr/bin/env bash
# Every front end at the core's speed: the same saved machine run through the processor's bare
# loop, the desktop's threads, the deterministic tick (in process, as the control protocol and the
# tests drive it), the runner (deterministic, and --realtime) and the browser build under Node
# (when make web has built it; measured after a second's warm-up, in which the engine compiles the
# loop fully), in millions of instructions a second and as a ratio to the bare loop. Two machines: the free BASIC in a FOR loop, and a machine-code loop (block moves, indexed
# and bit instructions, the stack) in RAM with the BASIC's tick handler under it. Rounds alternate
# the front ends, so a busy host slows them alike; medians are reported. Speeds are per second of
# the front end's processor time (all its threads, so the desktop's render and clock threads
# count), which a host shared with other work disturbs far less than wall time.
#   bench/frontends.sh BUILD_FOLDER [ROUNDS] [SECONDS]
# e.g. bench/frontends.sh build/release 3 2. Exit status 0 when every front end is within
# RatioGoal of the bare loop (the browser within WebRatioGoal), 1 when one is not or a run failed.
set -uo pipefail
build=$(realpath "${1:?usage: frontends.sh BUILD_FOLDER [ROUNDS] [SECONDS]}") || exit 1
rounds=${2:-3}
seconds=${3:-2}
here=$(cd "$(dirname "$0")" && pwd)
headless=$build/tools/lunabrik-headless
bench=$build/bench/lunabrik_frontends_bench
images=$build/images
web=$here/../build/web
per_tick=40000 # the runner's default --instructions
ratio_goal=1.25
web_ratio_goal=1.6
for program in "$headless" "$bench"; do
    [ -x "$program" ] || { echo "missing $program: build it first" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$images/basic.rom" "$images/dev_dos.rom" "$images/font.bin" "$work/" || exit 1
mkdir "$work/Files"
{ head -c 4 /dev/zero; head -c 256 /dev/zero; } >"$work/Lunabrik.cfg" # waitstates 0
cd "$work" || exit 1

# The saved machines.
"$headless" --wait-for READY --type '10 A=0\r20 FOR I=1 TO 300000:A=A+1:NEXT I\r30 GOTO 10\rRUN\r' \
    --ticks 50 --save-state basic.lbs >/dev/null || { echo "cannot make basic.lbs" >&2; exit 1; }
# B000: LDIR 256 bytes B800 -> BA00; then 256 times: LD A,(IX+5); ADD A,B; XOR 55h; LD (IX+6),A;
# SRL A; BIT 0,A; JR Z; INC A; INC IX; PUSH HL; ADD HL,HL; POP HL; DJNZ; and again.
code=2100B81100BA010001EDB0DD2100B80600DD7E0580EE55DD7706CB3FCB4728013CDD23E529E110E9C300B0
cat >code.txt <<SCRIPT
{"cmd":"wait_for","text":"READY","timeout_ticks":500}
{"cmd":"poke","addr":45056,"hex":"$code"}
{"cmd":"set_regs","pc":45056}
{"cmd":"run","ticks":5}
{"cmd":"save_state","file":"$work/code.lbs"}
SCRIPT
"$headless" --script "$work/code.txt" >/dev/null || { echo "cannot make code.lbs" >&2; exit 1; }

field() { awk -v k="$1" '$1 == k { print $2 }'; }
# Instructions a second (millions) of the runner's processor time (user and system, less that of a
# run that only loads the state), from its --stats, less what the state had already run.
runner_mips() { # state, runner arguments...
    local state=$1 base stats cpu0 cpu
    shift
    TIMEFORMAT='%U %S'
    { time "$headless" --load-state "$state" --stats >"$work/base.txt"; } 2>"$work/time0.txt"
    base=$(field instructions <"$work/base.txt")
    { time "$headless" --load-state "$state" "$@" --stats >"$work/stats.txt"; } 2>"$work/time.txt" ||
        return 1
    awk -v i="$(field instructions <"$work/stats.txt")" -v b="$base" \
        -v t="$(cat "$work/time.txt")" -v t0="$(cat "$work/time0.txt")" 'BEGIN {
        split(t, a, " "); split(t0, z, " "); s = a[1] + a[2] - z[1] - z[2]
        printf "%.1f", (i - b) / s / 1e6 }'
}

fronts="bare thread tick runner realtime"
if [ -f "$web/lunabrik.js" ] && command -v node >/dev/null; then fronts="$fronts web"; fi
status=0
for state in basic code; do
    declare -A seen=()
    for ((r = 0; r < rounds; r++)); do
        for f in $fronts; do
            case $f in
            bare | thread | tick) m=$("$bench" "$f" "$state.lbs" "$seconds" | field mips) ;;
            runner)
                # As many ticks as take about the time asked for at the tick's own speed.
                ticks=$(awk -v m="${seen[tick]%% *}" -v s="$seconds" -v p="$per_tick" \
                    'BEGIN { t = int(m * 1e6 * s / p); print (t < 50 ? 50 : t) }')
                m=$(runner_mips "$state.lbs" --ticks "$ticks") ;;
            realtime) m=$(runner_mips "$state.lbs" --realtime --ticks $((seconds * 50))) ;;
            web) m=$(node "$here/frontends_web.mjs" "$web" "$state.lbs" "$seconds" | field mips) ;;
            esac
            [ -n "$m" ] || { echo "$state: $f failed" >&2; status=1; m=0; }
            seen[$f]="$m ${seen[$f]:-}"
        done
    done
    median() { tr ' ' '\n' <<<"$1" | grep . | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
    bare=$(median "${seen[bare]}")
    printf '%-6s %-9s %8s %8s   %s\n' machine "front end" MIPS "bare/it" "(rounds)"
    for f in $fronts; do
        m=$(median "${seen[$f]}")
        goal=$ratio_goal
        [ "$f" = web ] && goal=$web_ratio_goal
        verdict=$(awk -v b="$bare" -v m="$m" -v g="$goal" -v f="$f" 'BEGIN {
            if (f == "bare") { print ""; exit }
            r = (m > 0 ? b / m : 1e9)
            printf "goal <= %s: %s", g, (r <= g ? "met" : "MISSED") }')
        [[ $verdict == *MISSED* ]] && status=1
        printf '%-6s %-9s %8s %8s   %s (%s)\n' "$state" "$f" "$m" \
            "$(awk -v b="$bare" -v m="$m" 'BEGIN { printf "%.2f", (m > 0 ? b / m : 0) }')" \
            "$verdict" "${seen[$f]% }"
    done
    unset seen
done
exit $status
