#!/usr/bin/env bash
# Sets up, builds and shows a bundled sample object: scripts/show-sample.sh [sample-name]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DMIRANDEL_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)"
sample=${1:-torus.geom}
# Loading writes side files next to the object: show a scratch copy so the checkout stays clean.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp samples/* "$work/"
export OBJ_PATH="$work"
if [ -z "${DISPLAY:-}" ]; then
  # Without a display the first frame is drawn off-screen into a picture beside the build.
  picture=$PWD/build/${sample%%.*}.png
  ./build/mirandel --info -in "$sample"
  ./build/mirandel --snapshot "$picture" -in "$sample"
  echo "No display: the window's first frame is in $picture" >&2
  exit 0
fi
./build/mirandel -in "$sample"
