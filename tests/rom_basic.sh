#!/usr/bin/env bash
# End-to-end tests of the free BASIC: the ROM images run in lunabrik-headless, typed at like a
# user would, in a scratch run folder with its own Files/ folder.
#   rom_basic.sh CASE HEADLESS RUN_DIR
# Every run fails on a processor stall, so the ROM must only use instructions the processor has.
set -u
case_name=$1
headless=$2
run_dir=$3
samples=$(cd "$(dirname "$0")/../samples" && pwd)
data_dir=$(cd "$(dirname "$0")/data" && pwd)

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

# Runs the machine with the given actions; the screen text (--screen) goes to $out. Keys go at
# a tick's pace unless a case empties key_pace (then as fast as the machine takes them).
out=""
key_pace=(--key-ticks 1)
run() {
    out=$("$headless" --fail-on-stall "${key_pace[@]}" --timeout 1500 --wait-for READY "$@")
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
    local start=${1//\$/¤}
    awk -v start="${start//^/Ü}" 'found && $0 == "READY" { exit } found { print } $0 == start { found = 1 }' \
        <<<"$out"
}

# Each "command|expected first line" of stdin typed as a direct command; the first screen line
# after the command must be the expected one. A table of cases for one feature.
table() {
    local command expected got
    while IFS='|' read -r command expected; do
        [ -n "$command" ] || continue
        run --type "$command\r" --ticks 40 --screen
        # A command longer than a row wraps: what follows its last row.
        got=$(after_line "${command:$(((${#command} - 1) / 40 * 40))}" | head -n1)
        [ "$got" = "$expected" ] || fail "$command printed '$got', expected '$expected'"
    done
}

# The lines printed after the last RUN on the screen, up to READY, joined with '/'.
after_run() {
    tac <<<"$out" | awk '$0 == "RUN" { exit } { print }' | tac |
        awk '$0 == "READY" { exit } { print }' | tr '\n' '/'
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
    [ "$(head -n1 <<<"$out")" = "LUNABRIK FREE BASIC 2.0" ] || fail "first line: $(head -n1 <<<"$out")"
    expect_line "20000 BYTES FREE"
    expect_line "READY"
    ;;

numbers)
    # Decimal numbers by default, printed with a leading space unless negative, no trailing
    # zeros, whole numbers without a point, the exponent form outside 0.01-9999999.
    table <<'EOF'
PRINT 2+3| 5
print 2+3*4| 14
PRINT (2+3)*4;-(2-5)| 20 3
PRINT 7/2| 3.5
PRINT -7/2|-3.5
PRINT 1/3;2/3| .333333 .666667
PRINT 0.05;-0.5;.25| .05-.5 .25
PRINT 1/1000;1E-10| 1E-03 1E-10
PRINT 9999999;10000000;123456789| 9999999 1E+07 1.23457E+08
PRINT 1.5E3;2.5E+2;3E38*0+7| 1500 250 7
PRINT 65535;65536;0;00012;16777217| 65535 65536 0 12 1.67772E+07
PRINT 123456789012;0.000012345678901| 1.23457E+11 1.23457E-05
PRINT 3.25E2;12.5E-1;.5E1;1.E2| 325 1.25 5 100
PRINT 1E100|OVERFLOW
PRINT (16777216+1)-16777216;(16777216+3)-16777216;(16777216+1.5)-16777216| 0 4 2
PRINT 1-0.75-0.25;-3+3;2.5-2.5+1;100000+0.015625-100000;1.0000001-1| 0 0 1 .015625 1.19209E-07
PRINT 1/10=0.1;7/10=0.7;3/10=0.3;1/3*3=1;2/3=0.6666667;9/7=1.2857143;1E6/3=333333.34|-1-1-1-1-1-1-1
PRINT 0.1*3=0.3;1.1*1.1=1.21;3.3*3=9.9;12345*6789;-7*7;1.5*1.5;3*0;1E-30*1E-30|-1-1-1 8.38102E+07-49 2.25 0 0
PRINT 1<1.0000001;-0<0;-1E-30<-2E-30;3=3.0;INT(841470.94)|-1 0 0-1 841470
PRINT 2^10;2^-1;2^0.5;(-2)^3| 1024 .5 1.41421-8
PRINT 3<4;3=4;3>4;3<>4;3<=3;4>=5|-1 0 0-1-1 0
PRINT 6 AND 3;6 OR 3;NOT 0;NOT 1=2| 2 7-1-1
PRINT 1=1 AND 2=2;1=2 OR 2=3|-1 0
PRINT 2+3*4^2;NOT 1=2 AND 3<4;-2^2;2*-3;7 MOD 3*2;10-4-3;1 OR 2 AND 0| 50-1-4-6 2 3 1
PRINT 16777217-16777216;16777219-16777216;1E38/1E37=10;1.00000006-1| 0 4-1 1.19209E-07
PRINT COS(0)=1;SIN(0);EXP(0)=1;LOG(1);EXP(-87.3)>1E-38;EXP(-88);1E-38|-1 0-1 0-1 0 0
PRINT SIN(1E7);COS(1E8);TAN(1E20);SIN(3E38)| .420548-.363385 .870492 .874905
PRINT 1<2<3|SYNTAX ERROR
PRINT ABS(-9.5);INT(3.7);INT(-3.2);SGN(-4);SGN(0);SGN(2)| 9.5 3-4-1 0 1
PRINT INT(-3);INT(-0.5);INT(-123456.7);INT(65535.5);INT(-1E-30);INT(1E10)|-3-1-123457 65535-1 1E+10
A%=-32768:B%=32767.9:C%=-7.9:PRINT A%;B%;C%;-7 MOD 3|-32768 32767-7-1
A%=-32768.5|ILLEGAL VALUE
PRINT SQR(16);SQR(2);SQR(0)| 4 1.41421 0
PRINT SIN(0);COS(0);SIN(3.14159265/2);COS(3.14159265)| 0 1 1-1
PRINT ATN(1)*4;LOG(EXP(1));EXP(0);LOG(100)/LOG(10)| 3.14159 1 1 2
PRINT INT(SIN(1)*1E6);INT(EXP(10));INT(ATN(0.5)*1E6)| 841470 22026 463647
A%=7.9:B%=-7.9:C=A%/2:PRINT A%;B%;C| 7-7 3.5
A=5:B7=A*3:PRINT A;B7| 5 15
POKE 31744,65:PRINT PEEK(31744)| 65
PRINT 1E30*1E30|OVERFLOW
PRINT 1/0|DIVISION BY ZERO
A%=40000|ILLEGAL VALUE
PRINT SQR(-1)|ILLEGAL VALUE
PRINT LOG(0)|ILLEGAL VALUE
PRINT 2+|SYNTAX ERROR
PRINT "A"+1|TYPE MISMATCH
EOF
    # Sums, products and quotients rounded as IEEE 754 single precision rounds them (to nearest,
    # ties to even): each row holds A, B and the exact results as M*2^E, worked out elsewhere.
    rows='100 DATA 16777215,3,8388609,1,12582911,2,11184810,-1\r101 DATA -16777213,7,-16777206,0,-14680061,3,-9586979,-2\r102 DATA 8388609,-3,16777212,-1,-12582914,1,-11184812,-2\r103 DATA 5,16777216,8388610,1,10485760,3,10485760,-45\r104 DATA -1953078,-99564,-16421136,-3,11868668,14,10284594,-19\r105 DATA 997748,29,15964432,-4,14467346,1,8807706,-8\r106 DATA -47,1661616,13292552,-3,-9761994,3,-15550237,-39\r107 DATA -5284625,33117,-10503016,-1,-10681819,14,-10457867,-16\r108 DATA 13,126176,16152192,-7,13122304,-3,14160430,-37\r109 DATA -14436,122498,13831936,-7,-13815478,7,-15817133,-27'
    run --type "10 FOR N=1 TO 10:READ A,B,S,T,P,Q,D,E\r20 IF A+B<>S*2^T OR A*B<>P*2^Q OR A/B<>D*2^E THEN PRINT N;\r30 NEXT N:PRINT \"DO\";\"NE\"\r$rows\rRUN\r" \
        --wait-for DONE --ticks 2 --screen
    [ "$(after_run)" = "DONE/" ] || fail "the rounding differs in rows '$(after_run)'"
    # RND stays in 0 <= RND < 1 and is not constant; RANDOMIZE takes it elsewhere.
    run --type 'FOR I=1 TO 200:R=RND:IF R<0 OR R>=1 THEN PRINT "BAD";R\r' --ticks 100 \
        --type 'S=0:FOR I=1 TO 200:S=S+RND:NEXT\rPRINT INT(S/20)\r' --ticks 100 --screen
    expect_no_line "BAD"
    mean=$(after_line 'PRINT INT(S/20)' | head -n1 | tr -d ' ')
    [[ $mean =~ ^[3-6]$ ]] || fail "the mean of 200 RND values times 10 is '$mean'"
    run --type 'A=RND:RANDOMIZE:B=RND:RANDOMIZE:C=RND\r' --ticks 10 --type 'PRINT A<>B OR B<>C\r' \
        --ticks 10 --screen
    [ "$(after_line 'PRINT A<>B OR B<>C' | head -n1)" = "-1" ] ||
        fail "RANDOMIZE did not change the sequence"
    ;;

strings)
    table <<'EOF'
A$="HEJ":B$=A$+" DU":PRINT B$;LEN(B$)|HEJ DU 6
PRINT LEFT$("ABCDEF",2);RIGHT$("ABCDEF",2);MID$("ABCDEF",2,3);MID$("ABCDEF",5)|ABEFBCDEF
PRINT LEFT$("AB",5);"/";MID$("AB",4);"/";RIGHT$("AB",0);"/"|AB///
PRINT ASC("A");CHR$(66);VAL("12.5")+1;VAL("-3E2");VAL("X")| 65B 13.5-300 0
PRINT NUM$(7);NUM$(-2.5);"<";SPACE$(3);">"| 7-2.5<   >
PRINT INSTR("ABCDCD","CD");INSTR(4,"ABCDCD","CD");INSTR("ABC","X")| 3 5 0
PRINT "A"<"B";"AB"="AB";"AB"<"ABC";"B">"ABC";"X"<>"X"|-1-1-1-1 0
DIM A$=100:A$="LONG":PRINT A$|LONG
A$="":FOR I=1 TO 255:A$=A$+"X":NEXT:PRINT LEN(A$)| 255
A$=SPACE$(200):B$=A$+A$|STRING TOO LONG
PRINT ASC("")|ILLEGAL VALUE
A=B$|TYPE MISMATCH
EOF
    ;;

arrays)
    table <<'EOF'
DIM A(3):FOR I=0 TO 3:A(I)=I*I:NEXT:PRINT A(0);A(3)| 0 9
DIM B(2,3):B(2,3)=5:B(1,2)=7:PRINT B(2,3);B(1,2);B(0,0)| 5 7 0
DIM C$(2):C$(0)="X":C$(2)="Z":PRINT C$(0);C$(1);C$(2)|XZ
DIM D%(4):D%(4)=3.9:PRINT D%(4)| 3
E(10)=1:PRINT E(10)| 1
DIM A(3):PRINT A(4)|BAD SUBSCRIPT
DIM A(3):PRINT A(-1)|BAD SUBSCRIPT
DIM B(2,3):PRINT B(3,0)|BAD SUBSCRIPT
E(11)=1|BAD SUBSCRIPT
DIM F$(2)=3:F$(1)="ABC":PRINT F$(1)|ABC
DIM F$(2)=3:F$(1)="ABCD"|STRING TOO LONG
FOR I=1 TO 2:FOR J=1 TO 2:PRINT I*J;:NEXT J,I| 1 2 2 4
DIM A(3),B(2,3):I=2.7:J=1:A(I)=5:B(I,J)=7:B(J,I)=8:PRINT A(2);B(2,1);B(1,2)| 5 7 8
DIM A(3):J=-1:PRINT A(J)|BAD SUBSCRIPT
DIM A(3):I=40000:PRINT A(I)|ILLEGAL VALUE
EOF
    ;;

data)
    run --type '10 DATA 1, 2.5 ,"A,B", plain text ,-3\r20 DATA "",7\r30 READ A,B,C$,D$,E\r' \
        --type '40 PRINT A;B;C$;"/";D$;"/";E\r50 READ F$,G:PRINT F$;"/";G\r60 RESTORE:READ H:PRINT H\r' \
        --type '70 RESTORE 20:READ I$,J:PRINT I$;J\r80 READ K\rRUN\r' --wait-for READY --ticks 5 --screen
    [ "$(after_run)" = " 1 2.5A,B/plain text/-3// 7/ 1/ 7/OUT OF DATA IN 80/" ] ||
        fail "DATA and READ printed '$(after_run)'"
    run --type '10 READ A\r20 DATA X\rRUN\r' --wait-for READY --ticks 5 --screen
    expect_line "BAD DATA IN 10"
    ;;

on)
    run --type '10 FOR I=0 TO 4:ON I GOTO 100,200\r20 PRINT "ON";I\r30 NEXT I:END\r' \
        --type '100 PRINT "ONE":GOTO 30\r200 PRINT "TWO":GOTO 30\r' \
        --type 'RUN\r' --wait-for READY --ticks 5 --screen
    [ "$(after_run)" = "ON 0/ONE/TWO/ON 3/ON 4/" ] || fail "ON GOTO printed '$(after_run)'"
    run --type '10 FOR I=1 TO 3:ON I GOSUB 100,200,300:PRINT "BACK":NEXT:END\r' \
        --type '100 PRINT "A";:RETURN\r200 PRINT "B";:RETURN\r300 PRINT "C";:RETURN\rRUN\r' \
        --wait-for READY --ticks 5 --screen
    [ "$(after_run)" = "ABACK/BBACK/CBACK/" ] || fail "ON GOSUB printed '$(after_run)'"
    ;;

def_fn)
    run --type '10 DEF FNA(X)=X*X+1\r20 DEF FNB(X)=FNA(X)*2\r30 DEF FNP=3.5\r40 X=10\r' \
        --type '50 PRINT FNA(3);FNB(2);FNP;X\r60 PRINT FNC(1)\rRUN\r' --wait-for READY --ticks 5 --screen
    [ "$(after_run)" = " 10 10 3.5 10/NO SUCH FN IN 60/" ] || fail "DEF FN printed '$(after_run)'"
    ;;

cur)
    # CHR$(12) clears, CUR places the cursor (row 0-23, column 0-39), TAB moves right.
    run --type 'PRINT CHR$(12);CUR(5,10);"X";CUR(23,38);"Y";CUR(0,0);"A";TAB(6);"B"\r' \
        --wait-for READY --ticks 5 --screen
    [ "$(sed -n 6p <<<"$out")" = "          X" ] || fail "row 5: '$(sed -n 6p <<<"$out")'"
    [ "$(sed -n 1p <<<"$out")" = "A     B" ] || fail "row 0: '$(sed -n 1p <<<"$out")'"
    [ "$(sed -n 24p <<<"$out")" = "$(printf "%38sY" "")" ] || fail "no Y at row 23, column 38"
    grep -q "CUR(5,10)" <<<"$out" && fail "CHR\$(12) did not clear the screen"
    table <<'EOF'
PRINT CUR(24,0)|ILLEGAL VALUE
PRINT CUR(0,40)|ILLEGAL VALUE
EOF
    ;;

for_loop)
    run --type '10 FOR I=1 TO 3\r20 PRINT "LINE";I\r30 NEXT I\r40 FOR J=10 TO 0 STEP -5:PRINT J;:NEXT\r50 PRINT\r' \
        --type '60 FOR K=0 TO 1 STEP 0.25:PRINT K;:NEXT K:PRINT\rRUN\r' --wait-for READY --ticks 5 --screen
    got=$(after_run)
    [ "$got" = "LINE 1/LINE 2/LINE 3/ 10 5 0/ 0 .25 .5 .75 1/" ] || fail "the loops printed '$got'"
    # GOSUB and RETURN inside a loop; line numbers up to 65535.
    run --type '10 FOR I=1 TO 3\r20 GOSUB 65535\r30 NEXT\r40 END\r65535 PRINT I:RETURN\rRUN\r' \
        --wait-for "READY" --ticks 2 --type 'LIST 20-40\r' --wait-for "40 END" --ticks 5 --screen
    [ "$(after_run)" = " 1/ 2/ 3/" ] || fail "the GOSUB loop printed '$(after_run)'"
    [ "$(after_line "LIST 20-40" | tr '\n' '/')" = "20 GOSUB 65535/30 NEXT/40 END/" ] ||
        fail "LIST 20-40 gave '$(after_line "LIST 20-40")'"
    # A jump taken once and again after its target line was replaced by another line in the
    # same place: the program changed, so the jump looks for its line anew.
    # 112 loops open at once, and not one more.
    run --type '10 DIM V(120)\r20 N=N+1:FOR V(N)=1 TO 1:GOTO 20\rRUN\r' --wait-for "IN 20" --ticks 2 \
        --type 'PRINT N\r' --ticks 10 --screen
    expect_line "TOO MANY FORS IN 20"
    [ "$(after_line "PRINT N" | head -n1)" = " 113" ] || fail "the loops ran out at N=$(after_line "PRINT N")"
    # Loops in a program: NEXT names its variable, a FOR ends its line, a line is replaced.
    run --type '10 FOR I=1 TO 2\r20 FOR J=1 TO 2\r30 PRINT I*10+J;\r40 NEXT J\r50 NEXT I\r60 FOR I=1 TO 2\r70 NEXT I\r' \
        --type '80 PRINT I\rRUN\r' --wait-for READY --ticks 2 --type '70 NEXT J\rRUN\r' --wait-for READY \
        --ticks 2 --screen
    [ "$(after_line RUN | head -n2 | tr "\n" /)" = " 11 12 21 22 2/" ] || fail "the loops in lines printed '$(after_line RUN)'"
    [ "$(after_run)" = " 11 12 21 22/NEXT WITHOUT FOR IN 70/" ] || fail "NEXT J after line 70 changed printed '$(after_run)'"
    run --type '10 GOTO 30\r20 END\r30 PRINT "B";:GOTO 20\rRUN\r' --wait-for READY --ticks 2 \
        --type '30\r31 PRINT "C";:GOTO 20\rRUN\r' --wait-for "IN 10" --ticks 2 --screen
    [ "$(after_line "RUN" | head -n1)" = "B" ] || fail "GOTO 30 printed '$(after_line "RUN" | head -n1)'"
    [ "$(after_run)" = "NO SUCH LINE IN 10/" ] || fail "GOTO 30 after line 30 went: '$(after_run)'"
    run --type '10 REM A\r20 REM B\r30 REM C\rLIST -20\r' --wait-for "20 REM" --ticks 2 \
        --type 'LIST 20-\r' --wait-for "30 REM" --ticks 2 --type 'LIST 30\r' --wait-for READY --ticks 2 --screen
    [ "$(after_line "LIST -20" | tr '\n' '/')" = "10 REM A/20 REM B/" ] || fail "LIST -20 gave '$(after_line "LIST -20")'"
    [ "$(after_line "LIST 20-" | tr '\n' '/')" = "20 REM B/30 REM C/" ] || fail "LIST 20- gave '$(after_line "LIST 20-")'"
    [ "$(after_line "LIST 30" | tr '\n' '/')" = "30 REM C/" ] || fail "LIST 30 gave '$(after_line "LIST 30")'"
    # Thirty lines scroll the screen: the last rows stay, the first ones are gone.
    run --type 'FOR I=1 TO 30:PRINT I:NEXT\r' --wait-for " 30" --ticks 4 --screen
    [ "$(sed -n 20,23p <<<"$out" | tr '\n' '/')" = " 28/ 29/ 30/READY/" ] ||
        fail "bottom rows after scrolling: $(sed -n 20,23p <<<"$out" | tr '\n' '/')"
    expect_no_line " 6"
    # Loops with whole start, step and limit count in integers; they end as the floating point
    # ones do, at the 16-bit edges too, and a body that changes the variable is followed.
    table <<'EOF'
0 PRINT|BAD LINE NUMBER
65536 PRINT|BAD LINE NUMBER
FOR I=1 TO 3:NEXT:PRINT I| 3
FOR I%=32760 TO 32767:NEXT:PRINT I%| 32767
FOR I%=-32760 TO -32768 STEP -3:NEXT:PRINT I%|-32766
FOR I=1 TO 10:I=I+2:NEXT:PRINT I| 12
FOR I=10 TO 1 STEP -4:PRINT I;:NEXT| 10 6 2
FOR I=1 TO 2 STEP .5:PRINT I;:NEXT:FOR J=0 TO 0:PRINT J;:NEXT| 1 1.5 2 0
FOR I%=5 TO 1:PRINT "X";:NEXT:PRINT I%|X 5
FOR I=-3 TO 3:PRINT I;:NEXT I|-3-2-1 0 1 2 3
FOR I=32760 TO 32767 STEP 3:PRINT I;:NEXT:PRINT I| 32760 32763 32766 32766
FOR I=-32768 TO -32766:PRINT I;:NEXT:FOR I=255 TO 257:PRINT I;:NEXT|-32768-32767-32766 255 256 257
FOR I=1 TO 2:FOR J=1 TO 5:PRINT J;:NEXT I:PRINT J| 1 1 1
FOR I=1 TO 2 AND 3:PRINT I;:NEXT:FOR I=0.5 TO 2:PRINT I;:NEXT| 1 2 .5 1.5
FOR I=16383 TO 16385 STEP 2:PRINT I;:NEXT| 16383 16385
FOR I=3 TO 1E3 STEP 996:PRINT I;:NEXT| 3 999
FOR A$=1 TO 2|TYPE MISMATCH
FOR I=1 TO "A"|TYPE MISMATCH
FOR I=1 STEP 2|SYNTAX ERROR
FOR I=1 TO 2:NEXT J|NEXT WITHOUT FOR
FOR I%=1 TO 2:NEXT:NEXT|NEXT WITHOUT FOR
DIM A(2):FOR A(1)=1 TO 2:FOR A(2)=1 TO 2:PRINT A(1);A(2);:NEXT A(2):NEXT A(1)| 1 1 1 2 2 1 2 2
EOF
    ;;

save_load)
    run --type '10 REM keeps case\r20 FOR I=1 TO 2:PRINT "HI";I:NEXT\r30 IF I>2 THEN PRINT "ÅÄÖ åäö é"\r' \
        --type '65535 A$="X"+"Y":PRINT A$\rLIST\r' --wait-for "READY" --ticks 2 \
        --type 'SAVE "demo"\rNEW\rLIST\r' --ticks 10 --type 'LOAD "DEMO"\rLIST\r' --wait-for "READY" \
        --ticks 10 --screen
    listing='10 REM keeps case/20 FOR I=1 TO 2:PRINT "HI";I:NEXT/30 IF I>2 THEN PRINT "ÅÄÖ åäö é"/65535 A$="X"+"Y":PRINT A$/'
    [ "$(after_line LIST | tr '\n' '/' | sed 's/¤/$/g')" = "$listing" ] || fail "first LIST: $(after_line LIST)"
    # The last LIST on the screen is the one after LOAD.
    last=$(tac <<<"$out" | awk '$0 == "LIST" { exit } { print }' | tac | grep -vx READY | tr '\n' '/' | sed 's/¤/$/g')
    [ "$last" = "$listing" ] || fail "LIST after LOAD: '$last'"
    # The host file is the listing as UTF-8 text with LF line ends, padded to whole blocks with
    # spaces and a last line end: no NUL bytes, so grep sees text.
    [ -f Files/DEMO.BAS ] || fail "Files/DEMO.BAS was not written"
    size=$(stat -c %s Files/DEMO.BAS)
    [ "$size" -eq 256 ] || fail "host file size $size is not one block"
    [ "$(tr -d '\000' <Files/DEMO.BAS | wc -c)" -eq "$size" ] || fail "the host file holds NUL bytes"
    grep -qI . Files/DEMO.BAS || fail "grep calls the host file binary"
    text=$(sed 's/ *$//' Files/DEMO.BAS | grep -v '^$' | tr '\n' '/')
    [ "$text" = "$listing" ] || fail "host file text: '$text'"
    [ "$(tail -c1 Files/DEMO.BAS | od -An -tx1 | tr -d ' ')" = "0a" ] || fail "the file does not end with LF"
    # A program of many blocks: what LOAD read, SAVE writes back the same.
    for i in $(seq 20 10 400); do printf '%s REM LINE %s OF THE FILE\n' "$i" "$i"; done >lines.txt
    printf '10 PRINT "START"\n' | cat - lines.txt >Files/MANY.BAS
    run --type 'LOAD "MANY"\rSAVE "MANY2"\rPRINT "SAVED"\r' --wait-for SAVED --ticks 5 --screen
    expect_no_line "CANNOT SAVE"
    cmp -s <(sed 's/ *$//' Files/MANY2.BAS | grep -v '^$') Files/MANY.BAS || fail "MANY2.BAS differs from MANY.BAS"
    [ $(($(stat -c %s Files/MANY2.BAS) % 256)) -eq 0 ] || fail "MANY2.BAS is not whole blocks"
    # A full disk, as a file size limit of 1 KB: the blocks past it are lost, the read-back check
    # sees the short file and says so; the program stays. The runner tells the user too: the
    # failed host write on stderr and exit code 4.
    for i in $(seq 10 10 600); do printf '%s REM A LINE TO PASS 1 KB\n' $i; done >Files/BIG.BAS
    out=$(
        trap '' XFSZ
        ulimit -f 1
        "$headless" --fail-on-stall --key-ticks 1 --timeout 1500 --wait-for READY \
            --type 'LOAD "BIG"\rSAVE "BIG2"\rLIST 600\r' --wait-for "600 REM" --screen 2>err.txt
    )
    rc=$?
    [ $rc -eq 4 ] || fail "the run with a full disk exited $rc, not 4"
    grep -q "Files/BIG2.BAS: File too large" err.txt || fail "no host file warning: $(cat err.txt)"
    expect_line "CANNOT SAVE"
    expect_line "600 REM A LINE TO PASS 1 KB"
    ;;

number_read)
    # Decimal numbers read through VAL, each against the float nearest it (ties to even) worked
    # out by tests/data/number_tables.py: the number times 2^K must be M exactly (M and K are
    # whole numbers below 2^24, which need no rounding). K 999 stands for OVERFLOW.
    awk -F, 'NR > 1 && $2 == "OVERFLOW" { $2 = 0; $3 = 999 } { OFS = ","; $1 = $1; print }' \
        "$data_dir/numbers_read.txt" >Files/READ.DAT
    cat >Files/READ.BAS <<'EOF'
10 ON ERROR GOTO 200
20 DIM P(140):P(60)=1
30 FOR I=61 TO 140:P(I)=P(I-1)*2:NEXT I
40 FOR I=59 TO 0 STEP -1:P(I)=P(I+1)/2:NEXT I
50 OPEN "READ" AS FILE 1:INPUT #1,C:B=0
60 FOR N=1 TO C:INPUT #1,S$,M,K
70 X=VAL(S$):IF K=999 THEN 100
80 A=INT(K/2):IF X*P(A+60)*P(K-A+60)<>M THEN 100
90 NEXT N:PRINT "CHECKED";C;" WRONG";B:END
100 B=B+1:IF B<11 THEN PRINT "ROW";N+1
110 GOTO 90
200 IF ERR=2 AND K=999 THEN RESUME 90
210 RESUME 100
EOF
    run --timeout 200000 --type 'LOAD "READ"\rRUN\r' --wait-for "WRONG" --ticks 5 --screen
    expect_line "CHECKED $(head -n1 "$data_dir/numbers_read.txt") WRONG 0"
    ;;

number_func)
    # SQR, SIN, COS, TAN, ATN, LOG and EXP over tests/data/numbers_func.txt, each result against
    # the float nearest the true value: per function the largest distance in units of that
    # float's last place, and how many are more than one unit off. Arguments and results are
    # exchanged as whole numbers times powers of two, exact both ways.
    cp "$data_dir/numbers_func.txt" Files/FUNC.DAT
    cat >Files/FUNC.BAS <<'EOF'
10 ON ERROR GOTO 300
20 DIM P(160),W(7),E(7):P(80)=1
30 FOR I=81 TO 160:P(I)=P(I-1)*2:NEXT I
40 FOR I=79 TO 0 STEP -1:P(I)=P(I+1)/2:NEXT I
50 OPEN "FUNC" AS FILE 1:INPUT #1,C
60 FOR N=1 TO C:INPUT #1,F,A,B,M,K
70 X=A*P(80-INT(B/2))*P(80-B+INT(B/2))
80 ON F GOSUB 101,102,103,104,105,106,107
90 A=INT(K/2):D=ABS(Y*P(A+80)*P(K-A+80)-M)
95 IF D>W(F) THEN W(F)=D
96 IF D>1 THEN E(F)=E(F)+1
97 NEXT N
98 FOR F=1 TO 7:PRINT "F";F;W(F);E(F):NEXT F:PRINT "ALL";C:END
101 Y=SQR(X):RETURN
102 Y=SIN(X):RETURN
103 Y=COS(X):RETURN
104 Y=TAN(X):RETURN
105 Y=ATN(X):RETURN
106 Y=LOG(X):RETURN
107 Y=EXP(X):RETURN
300 E(F)=E(F)+1:W(F)=1E9:RESUME 97
EOF
    run --timeout 400000 --type 'LOAD "FUNC"\rRUN\r' --wait-for "ALL" --ticks 5 --screen
    after_run
    echo
    # Every function within one unit.
    for f in 1 2 3 4 5 6 7; do
        line=$(grep "^F $f " <<<"$out")
        [ "${line##* }" = 0 ] || fail "function $f: $line (largest distance, results more than 1 unit off)"
    done
    # The square root of every square of a whole number below 4096 is that number.
    run --timeout 20000 --type 'B=0:FOR X=1 TO 4095:B=B-(SQR(X*X)<>X):NEXT X:PRINT "ROOTS";B\r' \
        --wait-for "ROOTS " --screen
    expect_line "ROOTS 0"
    ;;

number_arith)
    # + - * / over tests/data/numbers_arith.txt (random operands, whole numbers, ties, the ends
    # of the range): each result must be exactly the correctly rounded one.
    cp "$data_dir/numbers_arith.txt" Files/ARITH.DAT
    cat >Files/ARITH.BAS <<'EOF'
10 ON ERROR GOTO 300
20 DIM P(160),E(4):P(80)=1
30 FOR I=81 TO 160:P(I)=P(I-1)*2:NEXT I
40 FOR I=79 TO 0 STEP -1:P(I)=P(I+1)/2:NEXT I
50 OPEN "ARITH" AS FILE 1:INPUT #1,C
60 FOR N=1 TO C:INPUT #1,O,A,B,F,G,M,K
70 X=A*P(80-INT(B/2))*P(80-B+INT(B/2)):Z=F*P(80-INT(G/2))*P(80-G+INT(G/2))
80 ON O GOSUB 101,102,103,104
90 A=INT(K/2):IF Y*P(A+80)*P(K-A+80)<>M THEN E(O)=E(O)+1:PRINT "CASE";N
97 NEXT N
98 PRINT "WRONG";E(1);E(2);E(3);E(4):PRINT "OF";C:END
101 Y=X+Z:RETURN
102 Y=X-Z:RETURN
103 Y=X*Z:RETURN
104 Y=X/Z:RETURN
300 E(O)=E(O)+1:PRINT "ERROR";N:RESUME 97
EOF
    run --timeout 100000 --type 'LOAD "ARITH"\rRUN\r' --wait-for "WRONG" --ticks 5 --screen
    expect_line "WRONG 0 0 0 0"
    expect_line "OF $(head -n1 "$data_dir/numbers_arith.txt")"
    ;;

host_files)
    # Written on the host: lower case, CRLF line ends, UTF-8 and 7-bit Swedish letters, no end
    # after the last line; lines the BASIC cannot take are reported with their line in the file.
    long=$(head -c 260 /dev/zero | tr '\0' x)
    printf '10 rem från värden\r\n20 print "ÅÄÖ";"[\\]{|}"\r\n\r\n0 print "zero"\r\n70000 print "big"\r\nprint "no number"\r\n30 print "%s"\r\n40 for i=1 to 2:print "ROW";i:next\r\n50 print "OK"' \
        "$long" >Files/HOST.BAS
    run --type 'LOAD "HOST"\rLIST\r' --wait-for READY --ticks 2 --type 'RUN\r' --wait-for "OK" --ticks 10 --screen
    expect_line "BAD LINE NUMBER IN FILE LINE 4"
    expect_line "BAD LINE NUMBER IN FILE LINE 5"
    expect_line "BAD LINE NUMBER IN FILE LINE 6"
    expect_line "LINE TOO LONG IN FILE LINE 7"
    expect_line "10 REM från värden"
    expect_line '20 PRINT "ÅÄÖ";"ÄÖÅäöå"'
    expect_no_line "30 PRINT"
    [ "$(after_run)" = "ÅÄÖÄÖÅäöå/ROW 1/ROW 2/OK/" ] || fail "RUN printed '$(after_run)'"
    # A line of exactly 255 characters is taken whole.
    printf '10 REM %s\n20 PRINT "END"\n' "$(head -c 248 /dev/zero | tr '\0' y)" >Files/EDGE.BAS
    run --type 'LOAD "EDGE"\rRUN\r' --wait-for END --ticks 5 --type 'SAVE "EDGE2"\r' --wait-for READY --ticks 20 --screen
    expect_no_line "LINE TOO LONG IN FILE LINE 1"
    grep -q "^10 REM y\{248\}$" Files/EDGE2.BAS || fail "the 255-character line did not come back whole"
    # Exactly one full block: the next block read leaves the cleared buffer untouched.
    { printf '10 PRINT "FULL"\n20 REM '; head -c 232 /dev/zero | tr '\0' 'x'; printf '\n'; } >Files/FULL.BAS
    [ "$(stat -c %s Files/FULL.BAS)" -eq 256 ] || fail "FULL.BAS is not one block"
    run --type 'LOAD "FULL"\rRUN\r' --wait-for "FULL" --ticks 10 --screen
    expect_line "FULL"
    # A file that is not there leaves the program alone.
    run --type '10 PRINT "STILL HERE"\rLOAD "NOSUCH"\r' --wait-for "FILE NOT FOUND" --type 'RUN\r' \
        --wait-for "STILL HERE" --screen
    expect_line "FILE NOT FOUND"
    ;;

host_case)
    # Host names that differ only in letter case: LOAD "game" finds game.bas, and SAVE "game"
    # writes that same file back instead of adding GAME.BAS beside it. Two candidates are "not
    # found", and Swedish letters fold too.
    printf '10 PRINT "FROM LOWER CASE"\n' >Files/game.bas
    printf '10 PRINT "KÖR"\n' >Files/körning.bas
    run --type 'LOAD "game"\rRUN\r' --wait-for "FROM LOWER CASE" \
        --type '20 PRINT "CHANGED"\rSAVE "GAME"\rLOAD "KÖRNING"\rRUN\r' --wait-for "KÖR" --screen
    [ ! -e Files/GAME.BAS ] || fail "SAVE made GAME.BAS beside game.bas"
    grep -q 'CHANGED' Files/game.bas || fail "game.bas was not written back: $(cat Files/game.bas)"
    cp Files/game.bas Files/Game.bas
    run --type 'NEW\rLOAD "GAME"\rLIST\r' --wait-for READY --ticks 5 --screen
    expect_no_line '10 PRINT "FROM LOWER CASE"'
    ;;

error_line)
    run --type '10 PRINT "ONE"\r20 PRIMT 2\r30 PRINT "NOT HERE"\rRUN\r' --wait-for "IN 20" \
        --type 'LIST\r' --wait-for "30 PRINT" --screen
    expect_line "SYNTAX ERROR IN 20"
    expect_no_line "NOT HERE"
    expect_line '30 PRINT "NOT HERE"'
    run --type '10 GOSUB 500\rRUN\r' --wait-for "IN 10" --type '10 RETURN\rRUN\r' --wait-for "GOSUB IN" \
        --type '10 NEXT\rRUN\r' --wait-for "FOR IN" --type '10 A=1:STOP:PRINT "NO"\rRUN\r' --wait-for "STOP IN" \
        --type 'PRINT A\r' --wait-for READY --ticks 2 --screen
    expect_line "NO SUCH LINE IN 10"
    expect_line "RETURN WITHOUT GOSUB IN 10"
    expect_line "NEXT WITHOUT FOR IN 10"
    expect_line "STOP IN 10"
    [ "$(after_line 'PRINT A' | head -n1)" = " 1" ] || fail "variables were lost after STOP"
    # A function that calls itself runs out of stack: an error, not a crash; deep brackets work.
    run --type '10 DEF FNA(X)=FNA(X)+1\r20 PRINT FNA(1)\rRUN\r' --wait-for "IN 20" \
        --type 'PRINT ((((((((((((((((2))))))))))))))))\r' --ticks 20 --type 'LIST\r' --wait-for "20 PRINT" --screen
    expect_line "OUT OF MEMORY IN 20"
    [ "$(after_line 'PRINT ((((((((((((((((2))))))))))))))))' | head -n1)" = " 2" ] || fail "16 brackets deep failed"
    ;;

limits)
    # A word the BASIC does not know is an error wherever it stands, never one-letter variables;
    # PRINT items need ; or , between them, but a string constant may follow an item directly.
    table <<'EOF'
PRINT FOO(1)|SYNTAX ERROR
PRINT 7 XOR 3|SYNTAX ERROR
PRINT 2 3|SYNTAX ERROR
A=1:PRINT A B|SYNTAX ERROR
PRINT A12|SYNTAX ERROR
INPUT LINE A$|SYNTAX ERROR
IF 1 THEN PRINT 5 ELSE PRINT 6|SYNTAX ERROR
INPUT "NAME";A$ B$|SYNTAX ERROR
FOO=1|SYNTAX ERROR
A=5:PRINT "A="A"!";A;"B"|A= 5! 5B
DIM A$(3)=255:B$="HELLO":A$(0)=SPACE$(200):A$(3)=SPACE$(255):PRINT LEN(B$);LEN(A$(0));LEN(A$(1));LEN(A$(3))| 5 200 0 255
DIM A$(70)=255:A$(70)="LAST":PRINT A$(70)|LAST
DIM A$(200)=255|OUT OF MEMORY
DIM B(100,100)|OUT OF MEMORY
A$=SPACE$(255):PRINT INSTR(A$,"Z");INSTR(A$," ");INSTR(255,A$," ");INSTR(300,A$," ")| 0 1 255 0
A$="12"+SPACE$(253):PRINT VAL(A$);LEN(A$)| 12 255
EOF
    # Ctrl-C stops a program that lists itself over and over; the keys after it are taken.
    run --type '10 LIST\r20 GOTO 10\rRUN\r' --ticks 30 --type '\x03' --wait-for "BREAK IN" \
        --type 'PRINT 6*7\r' --wait-for " 42" --ticks 2 --screen
    grep -qxE "BREAK IN (10|20)" <<<"$out" || fail "LIST in a loop did not stop at Ctrl-C"
    # GOSUB 150 deep (a recursive sum), FOR 100 deep with a variable each, RUN to any line
    # GOTO takes, DEF FN typed as a command, and a 255-character field read by INPUT.
    run --type '10 N=150:F=1:GOSUB 100:PRINT "F";F:END\r100 IF N>1 THEN F=F+N:N=N-1:GOSUB 100\r110 RETURN\rRUN\r' \
        --wait-for "F 11325" --screen
    program=""
    for row in 0 1 2 3 4 5 6 7 8 9; do
        program+="$((row + 1))0 "
        for letter in A B C D E F G H I J; do program+="FOR $letter$row=1 TO 1:"; done
        program="${program%:}\r"
    done
    nexts=$(printf 'NEXT:%.0s' $(seq 50))
    program+="200 PRINT \"INNER\"\r210 ${nexts%:}\r220 ${nexts%:}\r230 PRINT \"OUT\":END\r40000 PRINT \"HIGH\"\r"
    run --type "${program}RUN\r" --wait-for READY --ticks 5 --type 'RUN 40000\r' --wait-for HIGH \
        --type 'DEF FNA(X)=X*2+1:DEF FNB(Y)=FNA(Y)+100\r' --ticks 5 --type 'A$="XX":PRINT FNA(3);FNB(1)\r' \
        --wait-for READY --ticks 5 --screen
    [ "$(after_run)" = "INNER/OUT/" ] || fail "100 nested FORs printed '$(after_run)'"
    expect_line "HIGH"
    [ "$(after_line 'A$="XX":PRINT FNA(3);FNB(1)' | head -n1)" = " 7 103" ] || fail "DEF FN from a command"
    long=$(head -c 255 /dev/zero | tr '\0' q)
    zeros=$(head -c 253 /dev/zero | tr '\0' 0)
    run --type '10 INPUT A$:PRINT LEN(A$):INPUT B:PRINT B\rRUN\r' --wait-for "?" --type "$long\r" \
        --wait-for "255" --ticks 5 --type "${zeros}42\r" --wait-for READY --ticks 5 --screen
    expect_line " 255"
    expect_line " 42"
    ;;

restored)
    # TAN, MOD (of whole numbers, the sign of the left side), CLS, TIME, string-valued DEF FN
    # with a string or a number parameter, GET into a number; Y and A7 are two variables.
    table <<'EOF'
PRINT TAN(1);TAN(0);7 MOD 3;-7 MOD 3;7.9 MOD 2| 1.55741 0 1-1 1
PRINT 1 MOD 0|DIVISION BY ZERO
PRINT "A" MOD 2|TYPE MISMATCH
A7=5:Y=2:Z9=3:PRINT A7;Y;Z9| 5 2 3
A$="KEEP":DEF FNA$(A$)=A$+"!":DEF FNB$(N)=LEFT$("ABCDEF",N):PRINT FNA$("HI");FNB$(2);A$|HI!ABKEEP
DEF FNA$(X)=X:PRINT FNA$(1)|TYPE MISMATCH
DEF FNA(X)=X:PRINT FNA("A")|TYPE MISMATCH
RESUME|RESUME WITHOUT ERROR
EOF
    run --type 'PRINT "X":CLS:PRINT CUR(3,0);"AFTER"\r' --ticks 10 --screen
    [ "$(sed -n 4p <<<"$out")" = "AFTER" ] || fail "CLS: row 3 is '$(sed -n 4p <<<"$out")'"
    expect_no_line "X"
    run --type '10 GET K:T=TIME:PRINT K\r20 IF TIME-T<2 THEN 20\r30 PRINT "TIME";INT(TIME-T)\rRUN\r' --ticks 10 \
        --type 'A' --wait-for "TIME 2" --screen
    [ "$(after_run)" = " 65/TIME 2/" ] || fail "GET and TIME printed '$(after_run)'"
    # ON ERROR GOTO: ERR is the error's number (its place in the list of messages), ERL its
    # line; RESUME NEXT goes on after the statement that failed, RESUME runs it again, RESUME n
    # goes to a line. An error in the handler, Ctrl-C and STOP stop the program as ever.
    run --type '10 ON ERROR GOTO 100:D=0\r20 PRINT 1/D;"AFTER"\r30 X=SQR(-1):PRINT "NEXT"\r' \
        --type '40 ON ERROR GOTO 0:PRINT 1/0\r100 PRINT "ERR";ERR;"IN";ERL\r110 IF ERL=20 THEN D=4:RESUME\r' \
        --type '120 IF ERL=30 THEN RESUME NEXT\r130 RESUME 40\rRUN\r' --wait-for "ZERO IN 40" \
        --type '100 PRINT X$(99)\rRUN\r' --wait-for "SUBSCRIPT IN 100" --screen
    [ "$(after_line RUN | tr '\n' '/')" = "ERR 3IN 20/ .25AFTER/ERR 9IN 30/NEXT/DIVISION BY ZERO IN 40/" ] ||
        fail "ON ERROR GOTO printed '$(after_line RUN | tr '\n' '/')'"
    expect_line "BAD SUBSCRIPT IN 100"
    ;;

break)
    run --type '10 I=I+1\r20 GOTO 10\rRUN\r' --ticks 20 --type '\x03' --wait-for "BREAK IN" \
        --type 'PRINT I>10\r' --wait-for "READY" --ticks 10 --type 'LIST\r' --wait-for "20 GOTO" --screen
    if ! grep -qxE "BREAK IN (10|20)" <<<"$out"; then fail "no BREAK line"; fi
    [ "$(after_line 'PRINT I>10' | head -n1)" = "-1" ] || fail "the loop did not run before the break"
    ;;

type_ahead)
    # Typed as fast as the keyboard takes keys, far ahead of the BASIC storing each line: every
    # key arrives. Keys typed ahead of an endless loop fill the ring, and Ctrl-C still stops it.
    key_pace=()
    program=""
    for i in $(seq 1 60); do program+="$((i * 10)) PRINT \"LINE $i\";A;B;C:X=X+$i\r"; done
    run --type "$program" --type 'RUN\r' --wait-for "LINE 60" --type 'PRINT X\r' --ticks 20 --screen
    [ "$(after_line 'PRINT X' | head -n1)" = " 1830" ] || fail "lines were lost: X is '$(after_line 'PRINT X' | head -n1)'"
    run --type '10 GOTO 10\rRUN\r' --ticks 20 --type 'ABCDEFGHIJKLMNOPQRSTUVWXYZ\x03' \
        --wait-for "BREAK IN 10" --ticks 10 --screen
    expect_line "BREAK IN 10"
    # Direct commands between the lines (loops, a number at the edge of the range, LIST) keep the
    # BASIC busy while the next lines are typed far ahead; a long loop halfway holds more keys back
    # than the BASIC queues. Every line is stored exactly as typed: SAVE writes the listing.
    program=""
    expected=""
    for i in $(seq 1 60); do
        line="$((i * 10)) PRINT \"LINE $i: ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789\";A;X*$i"
        program+="$line\r"
        expected+="$line/"
        case $((i % 3)) in
        0) program+='FOR I=1 TO 100:NEXT I\r' ;;
        1) program+='X=1E30\r' ;;
        2) [ $((i % 10)) -eq 2 ] && program+='LIST\r' ;;
        esac
        [ "$i" -eq 30 ] && program+='FOR I=1 TO 10000:NEXT I\r'
    done
    run --type "$program" --type 'SAVE "TYPED"\rPRINT "SA";"VED"\r' --wait-for SAVED --ticks 5
    listing=$(sed 's/ *$//' Files/TYPED.BAS 2>/dev/null | grep -v '^$' | tr '\n' '/')
    [ "$listing" = "$expected" ] || fail "typed program differs: $(diff <(tr '/' '\n' <<<"$expected") <(tr '/' '\n' <<<"$listing") | head -n 6)"
    # LOAD leaves keys typed ahead of it waiting, and a Ctrl-C typed during it stops it at once.
    for i in $(seq 10 10 6000); do printf '%s REM LINE %s OF A LONG FILE\n' "$i" "$i"; done >Files/BIG.BAS
    run --type 'LOAD "BIG"\rPRINT "AF";"TER"\rLIST 6000\r' --wait-for 'LINE 6000 OF' --screen
    expect_line 'AFTER'
    run --type 'LOAD "BIG"\r\x03' --ticks 20 --type 'LIST 6000\r' --ticks 20 --screen
    expect_line 'BREAK'
    expect_no_line '6000 REM LINE 6000 OF A LONG FILE'
    # A program that reads no keys holds back what is typed past the BASIC's queue: the runner
    # waits for the machine, and once it takes no key for --timeout ticks says how much was not
    # typed and exits 1 (never 0, never for ever).
    err=$("$headless" --timeout 100 --time-limit 60 --wait-for READY --type '10 GOTO 10\rRUN\r' \
        --type "$(printf 'A%.0s' $(seq 1 600))" 2>&1 >/dev/null)
    rc=$?
    [ $rc -eq 1 ] || fail "typing into a program that reads no keys exited $rc: $err"
    grep -q "characters were not typed" <<<"$err" || fail "no count of what was not typed: $err"
    ;;

swedish)
    run --type 'PRINT "ÅÄÖ åäö"\r' --wait-for READY --ticks 10 --screen
    expect_line 'PRINT "ÅÄÖ åäö"'
    expect_line 'ÅÄÖ åäö'
    ;;

mosaic)
    run --type 'PRINT CHR$(12);CHR$(151);CHR$(127);CHR$(97);"A"\r' --wait-for READY --ticks 10 --pbm pic.pbm
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
        --wait-for "??" --type 'abc\r' --wait-for RETYPE --type '-6,7.5\r' --wait-for READY --ticks 10 --screen
    expect_line "HOW MANY? 6"
    expect_line "RETYPE"
    expect_line "-45"
    run --type '10 INPUT "NAME";N$:INPUT A$,B\r20 PRINT "<";N$;">";A$;B\rRUN\r' --wait-for "NAME?" \
        --type 'Smith, John\r' --ticks 10 --type '"A, B", 3\r' --wait-for READY --ticks 5 --screen
    expect_line "<Smith, John>A, B 3"
    ;;

get)
    run --type '10 GET K$:PRINT "GOT ";K$;ASC(K$)\rRUN\r' --ticks 10 --type 'q' --wait-for READY --ticks 5 --screen
    expect_line "GOT q 113"
    ;;

edit)
    # Backspace deletes to the left: 12345, two Backspaces and 9 give 1239. Ctrl-< moves left
    # without deleting, the right arrow moves right; Ctrl-C drops the line.
    run --type 'PRINT 12345\b\b9\r' --wait-for READY --ticks 2 \
        --type 'PRINT 456\x7F\x7F\x7F\t7\r' --wait-for READY --ticks 2 \
        --type 'PRINT 99\x03' --ticks 4 --type 'PRINT 1\r' --wait-for READY --ticks 10 --screen
    expect_line " 1239"
    expect_line " 4756"
    expect_no_line " 99"
    expect_line " 1"
    # A typed line of 255 characters is kept whole.
    run --type "10 REM $(head -c 248 /dev/zero | tr '\0' z)\rLIST\r" --wait-for READY --ticks 5 --screen
    [ "$(tr -d '\n' <<<"$out" | grep -o 'z*' | awk '{ if (length > m) m = length } END { print m }')" -ge 248 ] ||
        fail "the 255-character line was cut"
    ;;

guess)
    # A number guessing game as typed in from a magazine; the guesses 1-10 in turn find the
    # number, every guess before it is too low.
    run --type '10 RANDOMIZE:N=INT(RND*10)+1:T=0\r20 PRINT "GUESS 1-10";:INPUT G:T=T+1\r' \
        --type '30 IF G<N THEN PRINT "TOO LOW":GOTO 20\r40 IF G>N THEN PRINT "TOO HIGH":GOTO 20\r' \
        --type '50 PRINT "RIGHT IN";T;" GUESSES"\rRUN\r' --ticks 5 \
        --type '1\r' --ticks 10 --type '2\r' --ticks 10 --type '3\r' --ticks 10 --type '4\r' --ticks 10 \
        --type '5\r' --ticks 10 --type '6\r' --ticks 10 --type '7\r' --ticks 10 --type '8\r' --ticks 10 \
        --type '9\r' --ticks 10 --type '10\r' --ticks 10 --screen
    right=$(grep -o "RIGHT IN [0-9]* GUESSES" <<<"$out")
    tries=$(grep -o "[0-9]*" <<<"$right")
    [ -n "$right" ] || fail "the game never said RIGHT"
    lows=$(grep -c "^TOO LOW$" <<<"$out")
    [ "$lows" -eq $((tries - 1)) ] || fail "$lows TOO LOW lines before $right"
    expect_no_line "TOO HIGH"
    ;;

chart)
    # A bar chart in mosaic graphics: each bar a column of full blocks (127) after the graphics
    # code 151, as high as its value, with the value printed under it.
    run --type '10 PRINT CHR$(12);:DATA 3,7,5,1\r20 FOR B=0 TO 3:READ V\r' \
        --type '30 FOR R=1 TO V:PRINT CUR(20-R,4+B*6);CHR$(151);CHR$(127);CHR$(127);:NEXT R\r' \
        --type '40 PRINT CUR(21,4+B*6);V;:NEXT B\r50 PRINT CUR(22,0);\rRUN\r' --wait-for READY --ticks 5 --screen
    for b in 0 1 2 3; do
        col=$((6 + b * 6))
        height=$(sed -n 1,20p <<<"$out" | sed 's/█/#/g' | cut -c$((col))-$((col + 1)) | grep -c '##')
        want=$(cut -d' ' -f$((b + 1)) <<<"3 7 5 1")
        [ "$height" = "$want" ] || fail "bar $b is $height blocks high, not $want"
    done
    [ "$(sed -n 22p <<<"$out" | tr -s ' ')" = " 3 7 5 1" ] || fail "values row: '$(sed -n 22p <<<"$out")'"
    ;;

files)
    # Data files are text: PRINT # writes the items as PRINT shows them, a comma between items,
    # a line end after each PRINT; INPUT # reads them back. The default extension is .DAT.
    run --type '10 PREPARE "LIST" AS FILE 1\r20 FOR I=1 TO 3:PRINT #1,"ÅSA";I,I/2:NEXT\r' \
        --type '30 PRINT #1,"":PRINT #1,"SISTA",:PRINT #1,-7\r40 CLOSE 1\r50 OPEN "list" AS FILE 2\r' \
        --type '60 FOR I=1 TO 3:INPUT #2,A$,B:PRINT A$;"/";B:NEXT\r70 INPUT #2,E$:INPUT #2,F$,G\r' \
        --type '80 PRINT "<";E$;">";F$;G:INPUT #2,H$\rRUN\r' --wait-for READY --ticks 20 --screen
    [ "$(after_run)" = "ÅSA 1/ .5/ÅSA 2/ 1/ÅSA 3/ 1.5/<>SISTA-7/END OF FILE IN 80/" ] ||
        fail "the file read back as '$(after_run)'"
    [ -f Files/LIST.DAT ] || fail "PREPARE did not make Files/LIST.DAT"
    [ "$(sed 's/ *$//' Files/LIST.DAT | tr '\n' '/')" = "ÅSA 1, .5/ÅSA 2, 1/ÅSA 3, 1.5//SISTA,-7//" ] ||
        fail "LIST.DAT holds '$(tr '\n' '/' <Files/LIST.DAT)'"
    [ "$(stat -c %s Files/LIST.DAT)" -eq 256 ] || fail "LIST.DAT is not one block"
    # A file written on the host (CRLF, UTF-8, a quoted string with a comma), read with INPUT #;
    # CLOSE without a number closes every file.
    printf '"Berg, Örjan",23456\r\nÅberg,34567\r\n' >Files/HOST.TXT
    run --type 'OPEN "HOST.TXT" AS FILE 7\rINPUT #7,A$,B:INPUT #7,C$,D:PRINT A$;B;C$;D\r' \
        --ticks 20 --type 'CLOSE\rINPUT #7,A$\r' --wait-for "NOT OPEN" --screen
    expect_line "Berg, Örjan 23456Åberg 34567"
    expect_line "FILE NOT OPEN"
    table <<'EOF'
OPEN "NOSUCH" AS FILE 1|FILE NOT FOUND
OPEN "X" AS FILE 8|ILLEGAL VALUE
PRINT #1,2|FILE NOT OPEN
OPEN "X" FILE 1|SYNTAX ERROR
EOF
    ;;

register)
    # A small register kept in a data file: read into arrays, new names typed in, all written
    # back and listed. The file starts out written on the host.
    printf 'ANDERSSON\r\n12345\r\nÖBERG\r\n23456\r\nEND\r\n0\r\n' >Files/PHONES.DAT
    program='10 DIM N$(20),T(20):N=0:OPEN "PHONES" AS FILE 1\r20 INPUT #1,A$:INPUT #1,B\r'
    program+='30 IF A$<>"END" THEN N=N+1:N$(N)=A$:T(N)=B:GOTO 20\r40 CLOSE 1\r'
    program+='50 INPUT "NAME";A$:IF A$="" THEN 70\r60 INPUT "NUMBER";T(N+1):N=N+1:N$(N)=A$:GOTO 50\r'
    program+='70 PREPARE "PHONES" AS FILE 1:FOR I=1 TO N:PRINT N$(I);TAB(15);T(I)\r'
    program+='80 PRINT #1,N$(I):PRINT #1,T(I):NEXT:PRINT #1,"END":PRINT #1,0:CLOSE 1\r'
    run --type "${program}SAVE \"REGISTER\"\rRUN\r" --wait-for "NAME?" --type 'ÅBERG\r' --wait-for "NUMBER?" \
        --type '34567\r' --wait-for "NAME?" --ticks 2 --type '\r' --wait-for READY --ticks 10 \
        --type 'NEW\rLOAD "REGISTER"\rRUN\r' --ticks 20 --type '\r' --wait-for READY --ticks 20 --screen
    [ "$(after_run)" = "NAME?/ANDERSSON       12345/ÖBERG           23456/ÅBERG           34567/" ] ||
        fail "the second run listed '$(after_run)'"
    [ "$(sed 's/ *$//' Files/PHONES.DAT | grep -v '^$' | tr '\n' '/')" = "ANDERSSON/ 12345/ÖBERG/ 23456/ÅBERG/ 34567/END/ 0/" ] ||
        fail "PHONES.DAT holds '$(tr '\n' '/' <Files/PHONES.DAT)'"
    grep -q '^10 DIM N\$(20),T(20):N=0:OPEN "PHONES" AS FILE 1$' Files/REGISTER.BAS || fail "REGISTER.BAS lacks line 10"
    ;;

state_split)
    # A busy program (RND, a data file open for writing, the screen scrolling) stopped by a saved
    # state at several moments and paces: loading it in a new process and running on gives the
    # same machine (screen, memory, registers, keys, timing), the same screen and the same data
    # file as the run that never stopped.
    program='10 RANDOMIZE:PREPARE "LOG" AS FILE 1\r20 FOR I=1 TO 3000:R=INT(RND*1000):PRINT I;R;:PRINT #1,I;R:NEXT I\r30 CLOSE 1:PRINT "DONE"\r'
    # The state without its save time (bytes 20-27) and checksum (the last 4).
    body() { tail -c +29 "$1" | head -c -4; }
    for split in "1 0 37 60" "2 0 83 40" "3 -1 230 75" "4 -1 263 30" "5 0 140 25"; do
        read -r seed pace n m <<<"$split"
        for dir in whole split; do
            rm -rf "$dir" && mkdir -p "$dir/Files"
            cp basic.rom dev_dos.rom font.bin "$dir/"
            # waitstates (0 full speed, -1 a real ABC80), then the files folder
            { if [ "$pace" = 0 ]; then printf '\x00\x00\x00\x00'; else printf '\xff\xff\xff\xff'; fi
              printf 'Files/'; head -c 250 /dev/zero; } >"$dir/Lunabrik.cfg"
        done
        start=(--fail-on-stall --key-ticks 1 --seed "$seed" --wait-for READY --type "$program" --type 'RUN\r')
        (cd whole && "$headless" "${start[@]}" --ticks "$n" --ticks "$m" --save-state end.lbs --screen >screen.txt) ||
            fail "seed $seed: the whole run failed"
        (cd split && "$headless" "${start[@]}" --ticks "$n" --save-state mid.lbs --screen >mid.txt &&
            [ -s Files/LOG.DAT ] && "$headless" --fail-on-stall --seed "$seed" --load-state mid.lbs --ticks "$m" \
                --save-state end.lbs --screen >screen.txt) ||
            fail "seed $seed: the split run failed (or had written nothing to LOG.DAT when saved)"
        grep -qx "DONE" split/mid.txt && fail "seed $seed: the program ended before the save"
        [ -s split/Files/LOG.DAT ] || fail "seed $seed: nothing written before the end"
        cmp -s whole/screen.txt split/screen.txt || fail "seed $seed, $n+$m ticks: the screens differ"
        cmp -s <(body whole/end.lbs) <(body split/end.lbs) || fail "seed $seed, $n+$m ticks: the machines differ"
        cmp -s whole/Files/LOG.DAT split/Files/LOG.DAT || fail "seed $seed, $n+$m ticks: LOG.DAT differs"
    done
    # The data file gone: its slot is closed and named, the program runs on, its writes to the
    # file that is gone are said and end the run with exit code 4, nothing is recreated.
    rm split/Files/LOG.DAT
    (cd split && "$headless" --load-state mid.lbs --ticks 20 2>err.txt)
    [ $? -eq 4 ] || fail "writing to the lost LOG.DAT did not exit 4: $(cat split/err.txt)"
    grep -q "LOG.DAT: gone" split/err.txt || fail "the closed slot was not named: $(cat split/err.txt)"
    grep -q "LOG.DAT: the program wrote" split/err.txt ||
        fail "the writes to the lost LOG.DAT were not said: $(cat split/err.txt)"
    [ -e split/Files/LOG.DAT ] && fail "LOG.DAT was made again by a load"
    # Other ROM images: refused unless forced; a file that is no state: refused.
    printf 'X' | dd of=split/dev_dos.rom conv=notrunc status=none
    (cd split && "$headless" --load-state mid.lbs 2>err.txt)
    [ $? -eq 6 ] || fail "a state of other ROM images was not refused"
    grep -q -- "--force-state" split/err.txt || fail "no hint of --force-state: $(cat split/err.txt)"
    (cd split && "$headless" --force-state --load-state mid.lbs --screen >/dev/null) || fail "--force-state did not load"
    (cd split && "$headless" --load-state font.bin 2>err.txt)
    [ $? -eq 6 ] && grep -q "not a Lunabrik state" split/err.txt || fail "font.bin loaded as a state: $(cat split/err.txt)"
    ;;

ports)
    # PEEK and POKE reach every byte by 0-65535 or, for the upper half, -32768 to -1; INP and OUT
    # reach the ports (58 latches the bits written to it; OUT 255 starts the file service on slot
    # 0 with no file name, so an open fails). LIST shows the new words as typed.
    table <<'EOF'
POKE 65534,171:POKE -3,205:PRINT PEEK(-2);PEEK(65533);PEEK(65534.9)| 171 205 171
POKE 32768,7:PRINT PEEK(-32768)=PEEK(32768);PEEK(32767)=PEEK(-32767)|-1 0
PRINT PEEK(-32769)|ILLEGAL VALUE
PRINT PEEK(65536)|ILLEGAL VALUE
POKE -32769,1|ILLEGAL VALUE
POKE 60000,256|ILLEGAL VALUE
POKE 60000,-1|ILLEGAL VALUE
OUT 58,255:PRINT INP(58):OUT 58,135:PRINT INP(58)| 120
OUT 256,0|ILLEGAL VALUE
PRINT INP(-1)|ILLEGAL VALUE
PRINT INP(56) AND 127| 13
OUT 255,0:PRINT INP(255)| 1
EOF
    run --type '10 OUT 57,1:A=INP(56):POKE -1,INP(57)\rLIST\r' --ticks 10 --screen
    [ "$(after_line LIST)" = "10 OUT 57,1:A=INP(56):POKE -1,INP(57)" ] || fail "LIST gave '$(after_line LIST)'"
    # Loops that read the keyboard port without waiting see a key go down (bit 7 set while it is
    # held) and up (its code stays); the key does not also turn up at the next prompt.
    printf '%s\n' '{"cmd":"run","ticks":20}' '{"cmd":"key","key":"x","hold_ticks":20}' \
        '{"cmd":"run","ticks":20}' '{"cmd":"screen"}' >script.txt
    run --type '10 IF INP(56)<128 THEN 10\r20 PRINT "HELD";INP(56)\r30 IF INP(56)>127 THEN 30\r' \
        --type '40 PRINT "UP";INP(56)\rRUN\r' --script script.txt
    [ "$(tail -n1 <<<"$out" | grep -o '"HELD 248","UP 120","READY",""')" ] ||
        fail "the held key was not seen: $(tail -n1 <<<"$out")"
    ;;

warm_start)
    # A Reset keeps the program and clears its variables; a power cycle, or a program area that
    # no longer holds sound lines, starts cold. Each case: the program typed and run, the command,
    # the machine reset (or power cycled), LIST and PRINT A. The first line is the 11 bytes from
    # 32768: its length, the number 10, then PRINT ' "HI"' and a zero byte; the signature word
    # behind the program area is at 52768.
    while IFS='|' read -r command reset listing start; do
        {
            echo "{\"cmd\":\"type\",\"text\":\"${command}\\\\r\"}"
            echo '{"cmd":"run","ticks":10}'
            echo "{\"cmd\":\"$reset\"}"
            echo '{"cmd":"run","ticks":10}'
            echo '{"cmd":"type","text":"LIST\\rPRINT A\\r"}'
            echo '{"cmd":"run","ticks":10}'
            echo '{"cmd":"screen"}'
        } >script.txt
        run --type '10 PRINT "HI"\r20 A=5\rRUN\r' --ticks 10 --script script.txt
        # The screen from the script's last answer, a line each.
        out=$(tail -n1 <<<"$out" | sed -e 's/^{"ok":true,"lines":\["//' -e 's/"\]}$//' \
            -e 's/","/\n/g' -e 's/\\"/"/g')
        got=$(after_line LIST | tr '\n' '/')
        [ "$got" = "$listing" ] || fail "$command, $reset: LIST gave '$got', expected '$listing'"
        [ "$(after_line 'PRINT A')" = " 0" ] || fail "$command, $reset: A is '$(after_line 'PRINT A')'"
        if grep -qxF "20000 BYTES FREE" <<<"$out"; then got=cold; else got=warm; fi
        [ "$got" = "$start" ] || fail "$command, $reset: a $got start, expected $start"
    done <<'EOF'
REM NOTHING|reset|10 PRINT "HI"/20 A=5/|warm
POKE 32775,74|reset|10 PRINT "JI"/20 A=5/|warm
POKE 32779,0:POKE 32780,0|reset|10 PRINT "HI"/|warm
NEW|reset||warm
FOR I=1 TO 30000:NEXT I|reset|10 PRINT "HI"/20 A=5/|warm
REM NOTHING|power_cycle||cold
POKE 32768,255:POKE 32769,255|reset||cold
POKE 32768,3|reset||cold
POKE 32778,65|reset||cold
POKE 32774,0|reset||cold
POKE 32770,0|reset||cold
POKE 32781,5:POKE 32782,0|reset||cold
POKE 32779,245:POKE 32780,0|reset||cold
POKE 52768,0|reset||cold
EOF
    ;;

snake)
    # The sample game at a real ABC80's pace (waitstates -1): W turns the snake up, so it hits
    # the top wall (and shows in the top row, beside the two side walls); N at the question ends
    # the game.
    cp "$samples/SNAKE.BAS" Files/
    {
        printf '\377\377\377\377Files/'
        head -c 250 /dev/zero
    } >Lunabrik.cfg
    run --type 'LOAD "SNAKE"\rRUN\r' --wait-for SCORE --ticks 10 --key w --timeout 1000 \
        --wait-for "(Y/N)?" --screen
    expect_line " GAME OVER! SCORE 0 - AGAIN (Y/N)?"
    [ "$(sed -n 2p <<<"$out" | grep -o '█' | wc -l)" = 3 ] ||
        fail "the snake did not go up:$(printf '\n%s' "$out")"
    run --type 'LOAD "SNAKE"\rRUN\r' --wait-for SCORE --timeout 1000 --wait-for "GAME OVER" \
        --type 'N' --ticks 20 --screen
    [ "$(head -n1 <<<"$out")" = "READY" ] || fail "N did not end the game:$(printf '\n%s' "$out")"
    ;;

expressions)
    # Expressions in a running program, read twice (the second time from remembered constants),
    # must give what the same expression gives with a function in it (+ABS(0)), which is read
    # the long way; errors name the line.
    exprs='A+B*C%-K/4|(A+B)*(A-B)/3|-A*2+-B|2*-3-(-A)|10-4-3|1.5E3+.25-K|A/3*3|C%*C%*C%/7|A<B|A>=B|A<>B|B<=A|-(A<B)*5+2|K<1000|K<=1000|A+1=4|(A=3)*(B=-2.5)|M(2)+A|A*M(1)|K/2*3+4-5|-A/4|A/-8|B/0.5|A/2/2/2|T/1024|T/8E-30|K/K*K+K-K|A1-Z9*C1%|((((A+1)*2)-3)/4)|- -A+ +B'
    program='10 A=3:B=-2.5:C%=7:K=1000:T=1E-37:A1=0.5:Z9=-4:C1%=-3:DIM M(2):M(1)=5:M(2)=-0.125\r'
    n=0
    IFS='|' read -ra list <<<"$exprs"
    for e in "${list[@]}"; do
        n=$((n + 1))
        program+="$((100 + n)) X=$e:Y=$e+ABS(0):IF X<>Y THEN PRINT \"DIFFER\";$n;X;Y\r"
    done
    run --type "${program}200 P=P+1:IF P<2 THEN 101\r210 PRINT \"DO\";\"NE\"\rRUN\r" --wait-for DONE \
        --ticks 2 --screen
    [ "$(after_run)" = "DONE/" ] || fail "the two ways of reading differ: '$(after_run)'"
    run --type '10 A=0:X=2*3+1/A\rRUN\r' --ticks 20 --screen
    expect_line "DIVISION BY ZERO IN 10"
    run --type '10 A=1E30:FOR I=1 TO 2:X=A*A:NEXT I\rRUN\r' --ticks 20 --screen
    expect_line "OVERFLOW IN 10"
    run --type '10 A=1E38:X=A/0.125\rRUN\r' --ticks 20 --screen
    expect_line "OVERFLOW IN 10"
    run --type '10 A=1:X=2*A+AB\rRUN\r' --ticks 20 --screen
    expect_line "SYNTAX ERROR IN 10"
    run --type '10 A=1:IF A<2<3 THEN 10\rRUN\r' --ticks 20 --screen
    expect_line "SYNTAX ERROR IN 10"
    ;;

*)
    echo "unknown case $case_name"
    exit 2
    ;;
esac

[ $failures -eq 0 ] && echo "PASS: $case_name"
exit $((failures > 0))
