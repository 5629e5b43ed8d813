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
  echo "No display: printing what the window would show." >&2
  exec ./build/mirandel --info -in "$sample"
fi
./build/mirandel -in "$sample"
