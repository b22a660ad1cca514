#!/usr/bin/env bash
# make web: the core and the page compiled to WebAssembly with Debian's emscripten, into build/web
# (index.html, lunabrik.js, lunabrik.wasm, the free ROM images and font, the service worker, the
# manifest and icons, and compressed copies): static files for any web server. Nothing is
# downloaded: emscripten builds its C and C++ libraries once into a cache beside the page's folder
# from the sources the package ships.
#   web.sh [OUT [IMAGES]]
# OUT is the page's folder (build/web by default); its CMake build goes to OUT-cmake and the
# library cache to emcache beside OUT, or to $LUNABRIK_EMCACHE when set (make test shares the one
# make web has just filled). IMAGES is a folder holding the free basic.rom, dev_dos.rom and
# font.bin; by default the release build's, made first when missing or older than rom/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$(realpath -m "${1:-$root/build/web}")
images=${2:-}
work=$out-cmake
build=$(dirname "$out")
cache=${LUNABRIK_EMCACHE:-$build/emcache}

for tool in emcmake em++ em-config node; do
  command -v "$tool" >/dev/null || { echo "web.sh: $tool is missing (make deps installs it)" >&2; exit 1; }
done

# Our configuration keeps the installed emscripten's compiler (the LLVM and clang it was packaged
# with, versioned or not) and Binaryen, and moves the library cache, which the package's frozen
# cache under /usr/share would refuse, into the build folder.
setting() { env -u EM_CONFIG em-config "$1" 2>/dev/null || true; }
llvm_root=$(setting LLVM_ROOT)
binaryen_root=$(setting BINARYEN_ROOT)
llvm_version=$(setting LLVM_ADD_VERSION)
clang_version=$(setting CLANG_ADD_VERSION)
[ -n "$llvm_root" ] || { echo "web.sh: em-config names no LLVM_ROOT" >&2; exit 1; }

mkdir -p "$cache" "$out"
export EM_CONFIG=$build/emscripten.cfg
{
  echo "LLVM_ROOT = '$llvm_root'"
  [ -z "$binaryen_root" ] || echo "BINARYEN_ROOT = '$binaryen_root'"
  echo "NODE_JS = '$(command -v node)'"
  echo "CACHE = '$cache'"
  echo "FROZEN_CACHE = False"
  [ -z "$llvm_version" ] || echo "LLVM_ADD_VERSION = '$llvm_version'"
  [ -z "$clang_version" ] || echo "CLANG_ADD_VERSION = '$clang_version'"
} >"$EM_CONFIG.new"
cmp -s "$EM_CONFIG.new" "$EM_CONFIG" && rm "$EM_CONFIG.new" || mv "$EM_CONFIG.new" "$EM_CONFIG"
export EM_CACHE=$cache
# Debian's acorn (emscripten's JavaScript optimizer needs it) for a node from elsewhere.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}

# The free ROM images and font, from the release build unless a folder was named.
if [ -z "$images" ]; then
  images=$root/build/release/images
  if [ ! -f build/release/run/font.bin ] || [ -n "$(find rom -newer build/release/run/font.bin -print -quit)" ]; then
    cmake --preset release >/dev/null
    cmake --build --preset release --target lunabrik_run_folder
  fi
fi
for f in basic.rom dev_dos.rom font.bin; do
  [ -f "$images/$f" ] || { echo "web.sh: no $f in $images" >&2; exit 1; }
done

[ -f "$work/build.ninja" ] || emcmake cmake -S web -B "$work" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$work"

# One script: emscripten's loader followed by the page's own code.
cat "$work/lunabrik.js" web/store.js web/page.js web/keyboard.js web/share.js web/states.js \
  web/selection.js web/help.js >"$out/lunabrik.js.new"
mv "$out/lunabrik.js.new" "$out/lunabrik.js"
cp "$work/lunabrik.wasm" web/index.html web/sw.js web/manifest.webmanifest "$out/"
node web/icon.mjs "$out"
for f in basic.rom basic.rom.sym dev_dos.rom font.bin; do cp "$images/$f" "$out/"; done
# Help: the desktop program's texts (the key map, the README's section on the free BASIC) and the
# sample programs.
mkdir -p "$out/help" "$out/samples"
cp docs/help/keyboard.md "$out/help/"
awk '/^## The free BASIC/ { on = 1; print; next } on && /^## / { exit } on' README.md >"$out/help/basic.md"
cp samples/*.BAS "$out/samples/"
(cd samples && ls *.BAS) >"$out/samples/list.txt"
# Compressed copies beside the big files, for servers that send them as they are (nginx's
# gzip_static, Caddy's precompressed); the others ignore them.
for f in lunabrik.js lunabrik.wasm index.html; do
  gzip -9 -n -c "$out/$f" >"$out/$f.gz"
  if command -v brotli >/dev/null; then brotli -q 11 -f -o "$out/$f.br" "$out/$f"; fi
done
echo "web.sh: the page is in $out; serve it with: python3 -m http.server -d $out 8080"
