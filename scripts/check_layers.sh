#!/bin/bash
# The layers of the include graph, checked over the sources (run by `make test` as the test
# `layers`; the folder to check is the argument, the repository by default):
#
#   shell/ tools/ web/   front ends: of the core only system/ (and common/, the shared helpers)
#   system/              the machine interface: never a front end, never Qt
#   cpu/ machine/ display/ host/   the core below it: never system/, a front end or Qt
#   cpu/                 the processor sees the machine through cpu/bus.h alone: only cpu/, common/
#   machine/             the devices: of the processor only its bus (cpu/bus.h), never display/
#
# Tests (any tests/ folder) may include what they check. Each include that crosses a layer is
# named with its file and line; the exit code is 1 when there is one.
root=${1:-$(dirname "$0")/..}
cd "$root" || exit 2

status=0
# check FOLDER REASON PATTERN [ALLOWED]: includes whose path matches the extended regex PATTERN
# (and not ALLOWED) in the production sources under FOLDER are refused.
check() {
    local folder=$1 reason=$2 pattern=$3 allowed=${4:-^$} hits
    [ -d "$folder" ] || return
    hits=$(grep -rnE --include='*.cpp' --include='*.h' --include='*.hpp' \
        "^[[:space:]]*#[[:space:]]*include[[:space:]]*[\"<]($pattern)" "$folder" |
        grep -vE '^([^:]*/)?tests/' | grep -vE ":[[:space:]]*#[[:space:]]*include[[:space:]]*[\"<]($allowed)")
    if [ -n "$hits" ]; then
        printf '%s\n' "$hits" | sed "s|\$|    <- $reason|"
        status=1
    fi
}

for front in shell tools web; do
    check "$front" "a front end includes only system/ of the core" \
        "(cpu|machine|display|host|rom|bench|shell|tools|web)/" "$front/"
done
for core in cpu machine display host; do
    check "$core" "the core knows nothing of system/, the front ends or Qt" \
        "(system|shell|tools|web)/|Q[A-Za-z]*>|Qt[A-Za-z]*/"
done
check system "system/ knows nothing of the front ends or Qt" \
    "(shell|tools|web)/|Q[A-Za-z]*>|Qt[A-Za-z]*/"
check cpu "the processor sees the machine through cpu/bus.h alone" "(machine|display|host|rom)/"
check machine "a device includes of the processor only its bus, and nothing of the display" \
    "(cpu|display)/" "cpu/bus\.h"

if [ $status -eq 0 ]; then
    echo "layers: every include keeps to its layer"
fi
exit $status
