#!/usr/bin/env bash
# Builds a release viewer and times the thumbnailer on a PLY of about N triangles (default
# 100000), as a file manager runs it: no display, no OBJ_PATH, SIZE x SIZE (default 256).
# Prints each run's wall time and the median. Usage: bench/thumbnail.sh [N [SIZE [RUNS]]]
# The viewer is built in build/, or in $MIRANDEL_BENCH_BUILD when that is set.
set -euo pipefail
cd "$(dirname "$0")/.."
triangles=${1:-100000}
size=${2:-256}
runs=${3:-7}
build=${MIRANDEL_BENCH_BUILD:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target mirandel >/dev/null
work=$(mktemp -d /tmp/mirandel-thumbnail-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
ply=$(python3 bench/make_ply.py "$triangles" "$work" binary)
viewer=$(pwd)/$build/mirandel
times=()
for _ in $(seq "$runs"); do
  start=$(date +%s%N)
  env -u DISPLAY -u OBJ_PATH "$viewer" --size "$size" --thumbnail "$ply" "$work/thumbnail.png"
  times+=($(($(date +%s%N) - start)))
done
printf '%s\n' "${times[@]}" | sort -n | awk -v n="$triangles" -v s="$size" '
  { t[NR] = $1 / 1e9; printf "run: %.3f s\n", t[NR] }
  END { printf "thumbnail of %d triangles at %dx%d: median %.3f s over %d runs\n", n, s, s, t[int((NR + 1) / 2)], NR }'
