#!/usr/bin/env bash
# End-to-end tests of the free BASIC: the ROM images run in lunabrik-headless, typed at like a
# user would, in a scratch run folder with its own Files/ folder.
#   rom_basic.sh CASE HEADLESS RUN_DIR
# Every run fails on a processor stall, so the ROM must only use instructions the processor has.
set -u
case_name=$1
headless=$2
run_dir=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$run_dir/basic.rom" "$run_dir/dev_dos.rom" "$run_dir/font.bin" "$work/" || exit 1
mkdir "$work/Files"
cd "$work" || exit 1

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Runs the machine with the given actions; the screen text (--screen) goes to $out.
out=""
run() {
    out=$("$headless" --fail-on-stall --key-ticks 1 --timeout 400 --wait-for READY "$@")
    local rc=$?
    if [ $rc -ne 0 ]; then
        fail "lunabrik-headless exited $rc for: $*"
        printf '%s\n' "$out"
    fi
}

# The screen must hold a line that is exactly $1.
expect_line() {
    if ! grep -qxF -- "$1" <<<"$out"; then
        fail "no screen line '$1'"
        printf '%s\n' "$out"
    fi
}

expect_no_line() {
    if grep -qxF -- "$1" <<<"$out"; then
        fail "unexpected screen line '$1'"
        printf '%s\n' "$out"
    fi
}

# The lines of the screen that follow the first line equal to $1, up to the next READY. The
# screen shows the code of $ as the ABC80's currency sign.
after_line() {
    awk -v start="${1//\$/¤}" 'found && $0 == "READY" { exit } found { print } $0 == start { found = 1 }' \
        <<<"$out"
}

# Pixel (x, y) of a PBM picture: prints 1 for white, 0 for black (PBM stores 1 for black).
pixel() {
    local byte
    byte=$(od -An -tu1 -j $((11 + $3 * 30 + $2 / 8)) -N1 "$1" | tr -d ' ')
    echo $((((byte >> (7 - $2 % 8)) & 1) ^ 1))
}

case $case_name in
banner)
    run --screen
    [ "$(head -n1 <<<"$out")" = "LUNABRIK FREE BASIC 1.0" ] || fail "first line: $(head -n1 <<<"$out")"
    expect_line "26000 BYTES FREE"
    expect_line "READY"
    ;;

print)
    # command | the line it prints
    while IFS='|' read -r command expected; do
        run --type "$command\r" --wait-for "READY" --ticks 10 --screen
        got=$(after_line "$command" | head -n1)
        [ "$got" = "$expected" ] || fail "$command printed '$got', expected '$expected'"
    done <<'EOF'
PRINT 2+3| 5
print 2+3*4| 14
PRINT (2+3)*4| 20
PRINT 7/2| 3
PRINT -7/2|-3
PRINT 7 MOD 3| 1
PRINT 32767| 32767
PRINT -32767-1|-32768
PRINT 3<4;3=4;3>4;3<>4;3<=3;4>=5|-1 0 0-1-1 0
PRINT 6 AND 3;6 OR 3;NOT 0| 2 7-1
PRINT NOT 1=2|-1
PRINT ABS(-9)| 9
A=5:B7=A*3:PRINT A;B7| 5 15
POKE -1024,42:PRINT PEEK(-1024)| 42
PRINT "A";"B",1|AB         1
PRINT CHR$(65);TAB(5);"X"|A    X
PRINT 32767+1|OVERFLOW
PRINT 200*200|OVERFLOW
PRINT 1/0|DIVISION BY ZERO
PRINT 99999|OVERFLOW
PRINT CHR$(256)|ILLEGAL VALUE
PRINT RND(0)|ILLEGAL VALUE
PRINT 2+|SYNTAX ERROR
EOF
    # RND stays in its range.
    run --type 'FOR I=1 TO 50:R=RND(6):IF R<1 OR R>6 THEN PRINT "BAD";R\r' --wait-for READY \
        --type 'PRINT "DONE"\r' --wait-for DONE --screen
    expect_no_line "BAD"
    ;;

for_loop)
    run --type '10 FOR I=1 TO 3\r20 PRINT "LINE";I\r30 NEXT I\r40 FOR J=10 TO 0 STEP -5:PRINT J;:NEXT\r50 PRINT\rRUN\r' \
        --wait-for " 10 5 0" --ticks 10 --screen
    got=$(after_line "RUN" | tr '\n' '/')
    [ "$got" = "LINE 1/LINE 2/LINE 3/ 10 5 0/" ] || fail "the loop printed '$got'"
    # GOSUB and RETURN inside a loop; the loop ends at 32767 without overflowing.
    run --type '10 FOR I=32765 TO 32767\r20 GOSUB 100\r30 NEXT\r40 END\r100 PRINT I\r110 RETURN\rRUN\r' \
        --wait-for "READY" --ticks 2 --type 'LIST 20-100\r' --wait-for "100 PRINT" --ticks 10 --screen
    got=$(after_line "RUN" | tr '\n' '/')
    [ "$got" = " 32765/ 32766/ 32767/" ] || fail "the GOSUB loop printed '$got'"
    got=$(after_line "LIST 20-100" | tr '\n' '/')
    [ "$got" = "20 GOSUB 100/30 NEXT/40 END/100 PRINT I/" ] || fail "LIST 20-100 gave '$got'"
    # Thirty lines scroll the screen: the last rows stay, the first ones are gone.
    run --type 'FOR I=1 TO 30:PRINT I:NEXT\r' --wait-for " 30" --ticks 4 --screen
    [ "$(sed -n 20,23p <<<"$out" | tr '\n' '/')" = " 28/ 29/ 30/READY/" ] ||
        fail "bottom rows after scrolling: $(sed -n 20,23p <<<"$out" | tr '\n' '/')"
    expect_no_line " 6"
    ;;

save_load)
    run --type '10 REM keeps case\r20 FOR I=1 TO 2:PRINT "HI";I:NEXT\r30 IF I>2 THEN PRINT "END"\r' \
        --type 'LIST\r' --wait-for "READY" --ticks 2 \
        --type 'SAVE "demo"\rNEW\rLIST\r' --ticks 10 --type 'LOAD "DEMO"\rLIST\r' --wait-for "READY" \
        --ticks 10 --screen
    listing='10 REM keeps case/20 FOR I=1 TO 2:PRINT "HI";I:NEXT/30 IF I>2 THEN PRINT "END"/'
    [ "$(after_line LIST | tr '\n' '/')" = "$listing" ] || fail "first LIST: $(after_line LIST)"
    # The last LIST on the screen is the one after LOAD.
    last=$(tac <<<"$out" | awk '$0 == "LIST" { exit } { print }' | tac | grep -vx READY | tr '\n' '/')
    [ "$last" = "$listing" ] || fail "LIST after LOAD: '$last'"
    # The host file is the listing as text, LF line ends, zero padded to whole blocks.
    [ -f Files/DEMO.BAS ] || fail "Files/DEMO.BAS was not written"
    size=$(stat -c %s Files/DEMO.BAS)
    [ $((size % 256)) -eq 0 ] || fail "host file size $size is not whole blocks"
    text=$(tr -d '\0' <Files/DEMO.BAS | tr '\n' '/')
    [ "$text" = "$listing" ] || fail "host file text: '$text'"
    [ "$(tr -d '\0' <Files/DEMO.BAS | tail -c1 | od -An -tx1 | tr -d ' ')" = "0a" ] ||
        fail "host file does not end its last line with LF"
    ;;

host_crlf)
    # Written on the host: lower case, CRLF line ends, no end after the last line.
    printf '10 rem from the host\r\n20 for i=1 to 2\r\n30 print "ROW";i\r\n40 next\r\n\r\n50 print "OK"' \
        >Files/HOST.BAS
    run --type 'LOAD "host"\rRUN\r' --wait-for "OK" --type 'LIST\r' --wait-for READY --ticks 10 --screen
    expect_line "ROW 1"
    expect_line "ROW 2"
    expect_line "OK"
    expect_line "20 FOR I=1 TO 2"
    expect_line "10 REM from the host"
    # Exactly one full block: the next block read leaves the cleared buffer untouched.
    { printf '10 PRINT "FULL"\n20 REM '; head -c 232 /dev/zero | tr '\0' 'x'; printf '\n'; } >Files/FULL.BAS
    [ "$(stat -c %s Files/FULL.BAS)" -eq 256 ] || fail "FULL.BAS is not one block"
    run --type 'LOAD "FULL"\rRUN\r' --wait-for "FULL" --ticks 10 --screen
    expect_line "FULL"
    # A file that is not there.
    run --type 'LOAD "NOSUCH"\r' --wait-for "FILE NOT FOUND" --screen
    expect_line "FILE NOT FOUND"
    ;;

error_line)
    run --type '10 PRINT "ONE"\r20 PRIMT 2\r30 PRINT "NOT HERE"\rRUN\r' --wait-for "IN 20" --screen
    expect_line "SYNTAX ERROR IN 20"
    expect_no_line "NOT HERE"
    run --type '10 GOSUB 500\rRUN\r' --wait-for "IN 10" --type '10 RETURN\rRUN\r' --wait-for "GOSUB IN" \
        --type '10 NEXT\rRUN\r' --wait-for "FOR IN" --screen
    expect_line "NO SUCH LINE IN 10"
    expect_line "RETURN WITHOUT GOSUB IN 10"
    expect_line "NEXT WITHOUT FOR IN 10"
    ;;

break)
    run --type '10 I=I+1\r20 GOTO 10\rRUN\r' --ticks 20 --type '\x03' --wait-for "BREAK IN" \
        --type 'PRINT I>100\r' --wait-for "READY" --ticks 10 --screen
    if ! grep -qxE "BREAK IN (10|20)" <<<"$out"; then fail "no BREAK line"; fi
    [ "$(after_line 'PRINT I>100' | head -n1)" = "-1" ] || fail "the loop did not run before the break"
    ;;

clock)
    run --type 'T=TIME\r' --ticks 100 --type 'PRINT TIME-T\r' --wait-for READY --ticks 10 --screen
    elapsed=$(after_line 'PRINT TIME-T' | head -n1 | tr -d ' ')
    # 100 ticks waited plus the ticks the typing took (each key is held and released a tick).
    if ! [[ $elapsed =~ ^[0-9]+$ ]] || [ "$elapsed" -lt 100 ] || [ "$elapsed" -gt 160 ]; then
        fail "TIME advanced by '$elapsed' over about 130 ticks"
    fi
    ;;

swedish)
    run --type 'PRINT "ÅÄÖ åäö"\r' --wait-for READY --ticks 10 --screen
    expect_line 'PRINT "ÅÄÖ åäö"'
    expect_line 'ÅÄÖ åäö'
    ;;

mosaic)
    run --type 'CLS:PRINT CHR$(151);CHR$(127);CHR$(97);"A"\r' --wait-for READY --ticks 10 --pbm pic.pbm
    [ "$(head -c 11 pic.pbm | tr '\n' ' ')" = "P4 240 240 " ] || fail "not a 240 x 240 PBM"
    # Cell 0 holds the control code (blank), cell 1 the full block 127: all 60 pixels lit.
    lit=0
    for y in 0 1 2 3 4 5 6 7 8 9; do
        for x in 6 7 8 9 10 11; do lit=$((lit + $(pixel pic.pbm $x $y))); done
        [ "$(pixel pic.pbm 2 $y)" = 0 ] || fail "control code cell lit at row $y"
    done
    [ $lit -eq 60 ] || fail "mosaic 127 lit $lit of 60 pixels"
    # Cell 2, mosaic 97: the top-left and bottom-right blocks only (a text 'a' looks nothing
    # like it).
    [ "$(pixel pic.pbm 13 1)$(pixel pic.pbm 16 1)$(pixel pic.pbm 13 5)$(pixel pic.pbm 16 8)$(pixel pic.pbm 13 8)" = 10010 ] ||
        fail "mosaic 97 cell has the wrong blocks"
    ;;

input)
    run --type '10 INPUT "HOW MANY";N,M\r20 PRINT N*M\rRUN\r' --wait-for "HOW MANY?" --type '6\r' \
        --wait-for "??" --type 'abc\r' --wait-for RETYPE --type '-6,7\r' --wait-for READY --ticks 10 --screen
    expect_line "HOW MANY? 6"
    expect_line "RETYPE"
    expect_line "-42"
    ;;

edit)
    # Back twice, insert; forward once, Ctrl-< deletes to the left; Ctrl-C drops the line.
    run --type 'PRINT 12\b\b3\r' --wait-for READY --ticks 2 \
        --type 'PRINT 456\b\b\b\t\x7F7\r' --wait-for READY --ticks 2 \
        --type 'PRINT 99\x03' --ticks 4 --type 'PRINT 1\r' --wait-for READY --ticks 10 --screen
    expect_line " 312"
    expect_line " 756"
    expect_no_line " 99"
    expect_line " 1"
    ;;

*)
    echo "unknown case $case_name"
    exit 2
    ;;
esac

[ $failures -eq 0 ] && echo "PASS: $case_name"
exit $((failures > 0))
