#!/usr/bin/env bash
# make web: the core and the page compiled to WebAssembly with Debian's emscripten, into build/web
# (index.html, lunabrik.js, lunabrik.wasm, the free ROM images and font, the service worker, the
# manifest and icons, and compressed copies): static files for any web server. Nothing is downloaded: emscripten builds its C and C++ libraries once into
# build/emcache from the sources the package ships.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build/web
work=$root/build/web-cmake

for tool in emcmake em++ node; do
  command -v "$tool" >/dev/null || { echo "web.sh: $tool is missing (make deps installs it)" >&2; exit 1; }
done

# Debian's configuration freezes the library cache under /usr/share; ours lives in build/.
mkdir -p "$root/build/emcache" "$out"
export EM_CONFIG=$root/build/emscripten.cfg
cat >"$EM_CONFIG.new" <<CFG
LLVM_ROOT = '/usr/bin'
BINARYEN_ROOT = '/usr'
NODE_JS = '$(command -v node)'
CACHE = '$root/build/emcache'
FROZEN_CACHE = False
LLVM_ADD_VERSION = '14'
CLANG_ADD_VERSION = '14'
CFG
cmp -s "$EM_CONFIG.new" "$EM_CONFIG" && rm "$EM_CONFIG.new" || mv "$EM_CONFIG.new" "$EM_CONFIG"
export EM_CACHE=$root/build/emcache
# Debian's acorn (emscripten's JavaScript optimizer needs it) for a node from elsewhere.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}

# The free ROM images and font, from the release build.
if [ ! -f build/release/run/font.bin ] || [ -n "$(find rom -newer build/release/run/font.bin -print -quit)" ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release --target lunabrik_run_folder
fi

[ -f "$work/build.ninja" ] || emcmake cmake -S web -B "$work" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$work"

# One script: emscripten's loader followed by the page's own code.
cat "$work/lunabrik.js" web/store.js web/page.js web/keyboard.js web/share.js web/states.js \
  web/selection.js web/help.js >"$out/lunabrik.js.new"
mv "$out/lunabrik.js.new" "$out/lunabrik.js"
cp "$work/lunabrik.wasm" web/index.html web/sw.js web/manifest.webmanifest "$out/"
node web/icon.mjs "$out"
for f in basic.rom basic.rom.sym dev_dos.rom font.bin; do cp "build/release/images/$f" "$out/"; done
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
echo "web.sh: the page is in build/web; serve it with: python3 -m http.server -d build/web 8080"
