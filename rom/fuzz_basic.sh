#!/usr/bin/env bash
# Fuzzes the free BASIC: random and malformed lines typed as direct commands into
# lunabrik-headless, a batch per run. Each line gets a bounded number of ticks and then Ctrl-C
# (so a loop or a waiting INPUT or GET ends); after the batch the machine must list the stored
# program exactly as it was and answer a PRINT, without a restart or a stalled processor.
#   rom/fuzz_basic.sh HEADLESS IMAGES_DIR FONT [RUNS [LINES_PER_RUN [SEED]]]
# e.g. rom/fuzz_basic.sh build/release/tools/lunabrik-headless build/release/images \
#        build/release/images/font.bin 60 50 1
# A failing batch is kept as fuzz-fail-RUN.txt in the working directory, one line a line, with
# the screen at the end. The exit status is the number of failing runs (at most 100).
# Lines that would change the program (a line number first, NEW, LOAD) or memory (POKE) are
# left out: what is checked is that nothing else does.
set -uo pipefail
headless=$(realpath "${1:?usage: fuzz_basic.sh HEADLESS IMAGES_DIR FONT [RUNS [LINES [SEED]]]}") || exit 2
images=${2:?}
font=${3:?}
runs=${4:-60}
per_run=${5:-50}
RANDOM=${6:-1}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$images/basic.rom" "$images/dev_dos.rom" "$work/" || exit 2
cp "$font" "$work/font.bin" || exit 2
mkdir "$work/Files"

words=(PRINT INPUT LET IF THEN GOTO GOSUB RETURN FOR TO STEP NEXT REM END STOP LIST RUN DIM DATA
    READ RESTORE ON DEF GET PREPARE OPEN CLOSE RANDOMIZE AND OR NOT FN ASC AS FILE TAB CUR ABS INT
    SGN SQR SIN COS ATN LOG EXP TAN PEEK LEN VAL RND 'CHR$' 'LEFT$' 'RIGHT$' 'MID$' 'NUM$' 'SPACE$'
    INSTR MOD CLS TIME ERROR ERL ERR RESUME)
atoms=(A 'A$' 'B%' X9 'Z9$' 'A(' 'A$(' 'FNA(' 'FNB$(' 1 0 -1 7 255 256 32767 32768 65535 1E38 1E-38
    .5 9999999999 '"' '"TEXT"' '""' '(' ')' ',' ';' ':' '+' '-' '*' '/' '^' '=' '<' '>' '<>' '#'
    '?' '%' '$' ' ' '.' FOO ELSE 'E' '((((' '))))' 'SPACE$(255)' 'A$=SPACE$(255)' 'DIM A$(9)=255')
# Whole statements, typed as they are or cut off at a random place.
statements=('A$=SPACE$(255):PRINT INSTR(A$,"Z");INSTR(A$," ")'
    'DIM A$(3)=255:A$(0)=SPACE$(200):B$="HELLO":PRINT LEN(B$)' 'FOR I=1 TO 1E9:NEXT I'
    'FOR I%=1 TO 30000:NEXT I%' 'GOSUB 20' 'PRINT TAN(1);7 MOD 3;TIME' 'DEF FNA(X)=X*2:PRINT FNA(3)'
    'DEF FNB$(A$)=A$+A$:PRINT FNB$("AB")' 'ON ERROR GOTO 20' 'INPUT A$' 'INPUT A,B' 'GET A' 'GET A$'
    'DIM B(100,100)' 'A=1/0' 'PRINT CUR(5,5);"X"' 'OPEN "NOSUCH" AS FILE 1'
    'PREPARE "F" AS FILE 1:PRINT #1,"X":CLOSE' 'READ A' 'RESUME NEXT' 'X=SQR(-1)' 'RUN'
    'PRINT ((((((((((((((((((((((((((((((1))))))))))))))))))))))))))))))' 'LIST' 'LIST 10-'
    'DEF FNA(X)=FNA(X)+1:PRINT FNA(1)' 'RESTORE:READ A$' 'A$="X":FOR I=1 TO 300:A$=A$+A$:NEXT'
    'CLOSE 9' 'PRINT VAL(SPACE$(255))' 'ON 3 GOTO 10,20' 'DIM Q(32767)' 'PRINT MID$("ABC",-1)')
chars='ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 !"#$%&()*+,-./:;<=>?@[]^_{|}~'"'"

# One random line: a statement, whole or cut off, and/or keywords, names, numbers and punctuation
# run together, now and then a run of random characters, now and then close to the longest line.
random_line() {
    local line="" n=$((1 + RANDOM % 12)) i pick
    if [ $((RANDOM % 3)) -eq 0 ]; then
        line=${statements[RANDOM % ${#statements[@]}]}
        [ $((RANDOM % 2)) -eq 0 ] && line=${line:0:$((RANDOM % ${#line}))}
        n=$((RANDOM % 3))
    fi
    for ((i = 0; i < n; i++)); do
        pick=$((RANDOM % 10))
        if [ $pick -lt 4 ]; then
            line+=${words[RANDOM % ${#words[@]}]}
        elif [ $pick -lt 9 ]; then
            line+=${atoms[RANDOM % ${#atoms[@]}]}
        else
            local k
            for ((k = 0; k < 1 + RANDOM % 8; k++)); do line+=${chars:RANDOM % ${#chars}:1}; done
        fi
        [ $((RANDOM % 3)) -eq 0 ] && line+=" "
    done
    [ -n "$line" ] || line="?"
    if [ $((RANDOM % 25)) -eq 0 ]; then
        while [ ${#line} -lt 240 ]; do line+="$line"; done
        line=${line:0:$((230 + RANDOM % 26))}
    fi
    line=${line#"${line%%[! ]*}"}
    case $line in
    [0-9]* | NEW* | LOAD* | *POKE*) line="PRINT $line" ;;
    esac
    line=${line//NEW/N}
    line=${line//LOAD/L}
    line=${line//POKE/P}
    printf '%s' "${line:0:255}"
}

failed=0
lines_typed=0
for ((run = 1; run <= runs; run++)); do
    args=(--fail-on-stall --key-ticks 1 --timeout 3000 --wait-for READY
        --type '10 REM KEEP\r20 PRINT "OK"\r' --ticks 5)
    batch=()
    for ((l = 0; l < per_run; l++)); do
        line=$(random_line)
        batch+=("$line")
        args+=(--type "$line\\r" --ticks 40 --type '\x03' --ticks 3)
    done
    lines_typed=$((lines_typed + per_run))
    args+=(--type '\x03' --ticks 3 --type 'PRINT CHR$(12);:LIST\r' --ticks 20 --type 'PRINT "ALI";"VE";2+2\r'
        --wait-for 'ALIVE 4' --screen)
    screen=$(cd "$work" && "$headless" "${args[@]}" 2>&1)
    rc=$?
    listing=$(sed -n 1,3p <<<"$screen" | tr '\n' '/')
    if [ $rc -ne 0 ] || [ "$listing" != '10 REM KEEP/20 PRINT "OK"/READY/' ] ||
        grep -q "FREE BASIC" <<<"$screen"; then
        failed=$((failed + 1))
        printf '%s\n' "${batch[@]}" "---- exit $rc, the screen:" "$screen" >"fuzz-fail-$run.txt"
        echo "run $run: FAILED (exit $rc), kept as fuzz-fail-$run.txt"
    fi
done
echo "$lines_typed lines in $runs runs: $((runs - failed)) runs ended with READY, the program" \
    "intact and no restart; $failed failed"
exit $((failed > 100 ? 100 : failed))
