#!/usr/bin/env bash
# Installs what building, running and testing Mirandel need on Debian 12 (bookworm).
set -euo pipefail
packages=(
  build-essential cmake pkg-config clang libclang-rt-14-dev clang-format python3
  libgtest-dev libgmock-dev googletest
  libgl1-mesa-dev libgl1-mesa-dri libglu1-mesa-dev freeglut3-dev libpng-dev libgtk-3-dev
  libegl-dev libegl1-mesa-dev libx11-dev
  zlib1g-dev libadmesh-dev admesh
  libzip-dev
  libtinyobjloader-dev
  nlohmann-json3-dev libdraco-dev libmeshoptimizer-dev
  gzip ncompress
  xvfb xauth xdotool x11-utils imagemagick
  desktop-file-utils shared-mime-info xdg-utils libglib2.0-bin libfile-mimeinfo-perl
  groff-base man-db dpkg-dev file
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
