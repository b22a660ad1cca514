#!/usr/bin/env bash
# Our processor loop against z80emu, a generic Z80 interpreter in C, on both workloads of
# lunabrik_cpu_bench: builds it from the folder given, with the compiler and flags of our release
# build, into lunabrik_peer_bench, and runs that (see bench/peer_bench.cpp). Not part of the test
# suite: the interpreter is not ours and is supplied by the user, like a ROM image.
# Usage: bench/peer_z80emu.sh PEER_SOURCE_DIR [BUILD_FOLDER] [lunabrik_peer_bench options]
#   PEER_SOURCE_DIR  a copy of https://github.com/anotherlin/z80emu (z80emu.c, z80emu.h,
#                    instructions.h, macros.h, and tables.h or maketables.c)
#   BUILD_FOLDER     a configured build (default build/release, configured with the release
#                    preset when it does not exist yet)
#   options          e.g. --rounds 7, --workload basic, --check
# Exit status: that of lunabrik_peer_bench (0 results alike and ours at least 1.2 times the faster
# build of the interpreter, 1 results differ, 2 only the speed goal missed); 2 as well when no
# interpreter folder is given.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
peer=${1:-}
if [ -z "$peer" ] || [ ! -f "$peer/z80emu.c" ]; then
  cat >&2 <<EOF
usage: bench/peer_z80emu.sh PEER_SOURCE_DIR [BUILD_FOLDER] [--rounds N] [--workload W] [--check]
PEER_SOURCE_DIR must hold the z80emu sources (z80emu.c, z80emu.h, instructions.h, macros.h, and
tables.h or maketables.c), e.g.:
  git clone https://github.com/anotherlin/z80emu /tmp/z80emu
  bench/peer_z80emu.sh /tmp/z80emu
They are copied into the build folder and never into the repository.
EOF
  exit 2
fi
peer=$(cd "$peer" && pwd)
shift
build=$repo/build/release
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then
  build=$1
  shift
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
  if [ "$build" != "$repo/build/release" ]; then
    echo "$build is not a configured build folder" >&2
    exit 1
  fi
  (cd "$repo" && cmake --preset release >/dev/null)
fi
# The interpreter's folder is set only while this runs: the build folder is left as it was.
trap 'cmake -B "$build" -DLUNABRIK_PEER_Z80EMU= >/dev/null 2>&1 || true' EXIT
cmake -B "$build" -DLUNABRIK_PEER_Z80EMU="$peer" >/dev/null
cmake --build "$build" --target lunabrik_peer_bench
echo "load before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
"$build/bench/lunabrik_peer_bench" "$@" || status=$?
echo "load after the run: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
