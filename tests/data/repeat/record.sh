#!/usr/bin/env bash
# Runs the runs of runs.txt with one lunabrik-headless and writes each one's standard output (the
# wall-clock seconds of --stats left out) and exit code to OUT_DIR/NAME.out.
#   tests/data/repeat/record.sh HEADLESS IMAGES_DIR FONT OUT_DIR
set -uo pipefail
headless=$(realpath "${1:?usage: record.sh HEADLESS IMAGES_DIR FONT OUT_DIR}") || exit 2
images=${2:?}
font=${3:?}
out=$(realpath "${4:?}") || exit 2
data=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$images/basic.rom" "$images/dev_dos.rom" "$work/" || exit 2
cp "$font" "$work/font.bin" || exit 2
mkdir "$work/Files"
while IFS= read -r line; do
    [[ -z $line || $line == \#* ]] && continue
    IFS='|' read -r -a fields <<<"$line"
    name=${fields[0]}
    waitstates=${fields[1]}
    args=("${fields[@]:2}")
    args=("${args[@]//@DATA@/$data}")
    # Lunabrik.cfg: waitstates (32 bits, little-endian), then the empty folder field.
    {
        printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((waitstates & 255)) \
            $((waitstates >> 8 & 255)) $((waitstates >> 16 & 255)) $((waitstates >> 24 & 255)))"
        head -c 256 /dev/zero
    } >"$work/Lunabrik.cfg"
    (cd "$work" && timeout 300 "$headless" "${args[@]}" </dev/null 2>/dev/null) |
        grep -v '^seconds ' >"$out/$name.out"
    echo "exit ${PIPESTATUS[0]}" >>"$out/$name.out"
done <"$data/runs.txt"
