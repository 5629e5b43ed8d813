#!/usr/bin/env bash
# STL loads beside the mesh library's own command-line tool doing its default repair of the same
# files (binary and ascii tori): best of three wall-clock seconds each, and their ratio.
# bench/stl_vs_admesh.sh [triangles]. A benchmark: it prints figures, fails on nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
triangles=${1:-1000000}
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target mirandel >/dev/null
command -v admesh >/dev/null || { echo "no admesh tool (Debian package admesh)"; exit 0; }
work=$(mktemp -d /tmp/mirandel-stl-XXXXXX)
trap 'rm -rf "$work"' EXIT
best() {
  local b=
  for _ in 1 2 3; do
    local s e
    s=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || true
    e=$(date +%s.%N)
    b=$(echo "$s $e ${b:-1e9}" | awk '{t = $2 - $1; print (t < $3 ? t : $3)}')
  done
  echo "$b"
}
for name in $(python3 bench/make_stl.py "$triangles" "$work"); do
  tool=$(best admesh "$work/$name")
  ours=$(OBJ_PATH="$work" best build/mirandel --info -in "$name")
  echo "$name: admesh tool $tool s, mirandel --info $ours s, ratio $(echo "$ours $tool" | awk '{printf "%.2f", $1 / $2}')"
done
