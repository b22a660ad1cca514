#!/usr/bin/env bash
# Where the free BASIC spends its time on one program, by routine (PC samples, one per 20 ms
# tick at a real ABC80's pace; see profile_basic.cpp).
#   rom/profile_basic.sh BUILD_DIR 'PROGRAM\rRUN\r' [TICKS]
# e.g. rom/profile_basic.sh build/release '10 FOR I=1 TO 30000:NEXT I\rRUN\r' 2000
# The routines are named from the link map (global symbols) and the interpreter's listing.
set -euo pipefail
build=$(realpath "${1:?usage: profile_basic.sh BUILD_DIR PROGRAM [TICKS]}")
program=${2:?}
ticks=${3:-2000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build/images/basic.rom" "$build/images/dev_dos.rom" "$build/images/font.bin" "$work/"
mkdir "$work/Files"
{
    printf '\377\377\377\377'
    head -c 256 /dev/zero
} >"$work/Lunabrik.cfg"
(cd "$work" && "$build/rom/lunabrik-profile-basic" "$program" "$ticks") >"$work/hits"
# Symbols: "address name", from the map and from basic.lst moved to where the map puts basic's code.
map=$build/rom/basic.map
hex='function hex(s,  v, i) { s = toupper(s); sub(/^0X/, "", s); v = 0
    for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789ABCDEF", substr(s, i, 1)) - 1
    return v }
'
awk "$hex"'$1 ~ /^0000[0-9A-F]+$/ && $2 ~ /^_/ { print hex("0x" $1), $2 }' "$map" >"$work/syms"
base=$(awk -v map="$map" "$hex"'
    / _fail::/ { rel = hex("0x" $1) }
    END {
        while ((getline line < map) > 0) {
            split(line, f, " ")
            if (f[2] == "_fail") abs = hex("0x" f[1])
        }
        print abs - rel
    }' "$build/rom/basic.lst")
awk -v base="$base" "$hex"'$2 == ".area" { code = $3 == "_CODE" } code && $1 ~ /^[0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F]$/ && $2 ~ /^[0-9]+$/ && $3 ~ /^[A-Za-z_][A-Za-z_0-9]*:/ {
        name = $3; sub(/:+$/, "", name); print hex("0x" $1) + base, name }' \
    "$build/rom/basic.lst" >>"$work/syms"
sort -n -u "$work/syms" >"$work/syms.sorted"
awk "$hex"'NR == FNR { addr[n] = $1; name[n++] = $2; next }
    { pc = hex("0x" $1); who = "?"
      for (i = 0; i < n && addr[i] <= pc; i++) who = name[i]
      total[who] += $2; all += $2 }
    END { for (w in total) printf "%6.1f%%  %s\n", 100 * total[w] / all, w }' \
    "$work/syms.sorted" "$work/hits" | sort -rn | head -40
