#!/usr/bin/env bash
# The eight PCW benchmarks (bench/pcw/bm1.bas-bm8.bas) on the free BASIC at a real ABC80's pace:
# each program is typed into lunabrik-headless with waitstates -1 (each 20 ms tick is a budget of
# 60,000 T-states, 3 MHz) and times itself with TIME, which counts the machine's 50 Hz ticks, so
# the figures are emulated seconds, the same on any host.
#   bench/pcw_basic.sh HEADLESS IMAGES_DIR FONT [GOAL_FILE]
# e.g. bench/pcw_basic.sh build/release/tools/lunabrik-headless build/release/images \
#        build/release/images/font.bin bench/pcw_basic.goals
# With GOAL_FILE (lines "name seconds"), the exit status says whether every program met its goal.
set -uo pipefail
headless=${1:?usage: pcw_basic.sh HEADLESS IMAGES_DIR FONT [GOAL_FILE]}
images=${2:?}
font=${3:?}
goals=${4:-}
headless=$(realpath "$headless") || exit 1
programs=$(dirname "$(realpath "$0")")/pcw

. "$(dirname "$0")/real_pace_folder.sh"
make_real_pace_folder "$images" "$font"

status=0
printf '%-5s %9s   %s\n' program seconds "(goal)"
for file in "$programs"/bm[1-8].bas; do
    name=$(basename "$file" .bas)
    # The program prints TICKS and the ticks it took (in two parts, so the typed line itself
    # never shows the word).
    text=$(tr '\n' '\r' <"$file")
    screen=$(cd "$work" && "$headless" --instructions 1000000 --key-ticks 1 --timeout 30000 \
        --wait-for READY --type "NEW\r${text}RUN\r" --wait-for TICKS --ticks 5 --screen) || {
        echo "$name: the run failed"
        status=1
        continue
    }
    seconds=$(awk '$1 == "TICKS" { printf "%.2f", $2 / 50; found = 1 } END { exit !found }' \
        <<<"$screen") || {
        echo "$name: no time shown"
        status=1
        continue
    }
    goal=""
    if [ -n "$goals" ]; then
        goal=$(awk -v name="$name" '$1 == name { print $2 }' "$goals")
        if [ -n "$goal" ]; then
            if awk -v s="$seconds" -v g="$goal" 'BEGIN { exit !(s <= g) }'; then
                goal="($goal: met)"
            else
                goal="($goal: MISSED)"
                status=1
            fi
        fi
    fi
    printf '%-7s %7s   %s\n' "$name" "$seconds" "$goal"
done
exit $status
