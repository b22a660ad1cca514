#!/usr/bin/env bash
# Loop rates of the free BASIC at a real ABC80's pace: period-style loops typed into
# lunabrik-headless with waitstates -1 (each 20 ms tick is a budget of 60,000 T-states, 3 MHz),
# counted in iterations per emulated second. Deterministic: the same images give the same figures
# on any host.
#   bench/basic_loops.sh HEADLESS IMAGES_DIR FONT [GOAL_FILE]
# e.g. bench/basic_loops.sh build/release/tools/lunabrik-headless build/release/images \
#        build/release/run/font.bin
# Each loop runs twice, with N and with 1 iteration; the difference in ticks is the time of N-1
# iterations, so typing the program and starting it cancel out. With GOAL_FILE (lines
# "name iterations-per-second", or "name other-loop" for at least that loop's rate; see
# bench/basic_loops.goals), the exit status says whether every loop met its goal.
set -uo pipefail
headless=${1:?usage: basic_loops.sh HEADLESS IMAGES_DIR FONT [GOAL_FILE]}
images=${2:?}
font=${3:?}
goals=${4:-}
headless=$(realpath "$headless") || exit 1

. "$(dirname "$0")/real_pace_folder.sh"
make_real_pace_folder "$images" "$font"

# The programs print DONE in two parts, so the typed text never shows the word itself.
# name|iterations|program (lines separated by \r; # stands for the iteration count)
loops=$(
    cat <<'EOF'
for_float|3000|10 FOR I=1 TO #:NEXT I\r20 PRINT "DO";"NE"
for_int|3000|10 FOR I%=1 TO #:NEXT I%\r20 PRINT "DO";"NE"
goto|2000|10 I=0\r20 I=I+1:IF I<# THEN GOTO 20\r30 PRINT "DO";"NE"
gosub|2000|10 FOR I=1 TO #:GOSUB 100:NEXT I:PRINT "DO";"NE":END\r100 RETURN
if|2000|10 FOR I=1 TO #\r20 IF I=0 THEN PRINT "NEVER"\r30 NEXT I:PRINT "DO";"NE"
string|1000|10 FOR I=1 TO #:A$=LEFT$("HELLO",3)+CHR$(65+I-INT(I/26)*26):B=LEN(A$):NEXT I\r20 PRINT "DO";"NE"
array|1000|10 DIM A(20):FOR I=1 TO #:J=I-INT(I/20)*20:A(J)=A(J)+I:NEXT I\r20 PRINT "DO";"NE"
EOF
)

# Ticks until DONE shows for the program with n iterations.
ticks_for() {
    local program=${1//#/$2} stats
    stats=$(cd "$work" && "$headless" --instructions 1000000 --key-ticks 1 --timeout 20000 \
        --wait-for READY --type "$program\rRUN\r" --wait-for DONE --stats) || return 1
    awk '$1 == "ticks" { print $2 }' <<<"$stats"
}

status=0
declare -A rates
printf '%-10s %12s   %s\n' loop "per second" "(goal)"
while IFS='|' read -r name n program; do
    long=$(ticks_for "$program" "$n") && short=$(ticks_for "$program" 1) || {
        echo "$name: the run failed"
        status=1
        continue
    }
    rate=$(awk -v n="$n" -v d="$((long - short))" 'BEGIN { printf "%.0f", (n - 1) / (d * 0.02) }')
    rates[$name]=$rate
    goal=""
    if [ -n "$goals" ]; then
        goal=$(awk -v name="$name" '$1 == name { print $2 }' "$goals")
        if [ -n "$goal" ] && [ -n "${rates[$goal]:-}" ]; then
            goal=${rates[$goal]}
        fi
        if [ -n "$goal" ] && [ "$rate" -lt "$goal" ]; then
            goal="($goal: MISSED)"
            status=1
        elif [ -n "$goal" ]; then
            goal="($goal: met)"
        fi
    fi
    printf '%-10s %12s   %s\n' "$name" "$rate" "$goal"
done <<<"$loops"
exit $status
