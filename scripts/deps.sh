#!/usr/bin/env bash
# Installs the Debian packages Lunabrik needs to build, test, run and benchmark, when missing.
set -euo pipefail
packages=(
  g++ make cmake ninja-build pkg-config           # build
  libgtest-dev libbenchmark-dev                   # tests and benchmarks
  qt6-base-dev qt6-base-dev-tools libgl-dev       # the desktop program
  xvfb xdotool x11-apps imagemagick openbox xclip # checks under a real X server: keys, clipboard
  sdcc z80asm                                     # the free ROM images and the bench workload
  emscripten nodejs                               # make web: the browser build
  chromium chromium-driver                        # its page test in headless Chromium
  libz80ex-dev                                    # the reference interpreter for the benchmark
  zlib1g-dev nlohmann-json3-dev                   # PNG and CRC-32; the control protocol's JSON
  libgif-dev                                      # replays written as animated GIFs
  desktop-file-utils appstream                    # the install test validates the menu entry
  dpkg-dev file fakeroot                          # make package: CPack's .deb, dpkg-shlibdeps
)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
