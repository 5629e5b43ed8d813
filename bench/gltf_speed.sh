#!/usr/bin/env bash
# Builds a release viewer and times glTF loading on the benchmark torus of about N triangles
# (default 1000000) as a binary glTF file (float positions, 32-bit indices): --info beside the
# same mesh as binary PLY, and the first picture (--snapshot) beside `f3d --output` (when f3d is
# installed), both drawing on one private Xvfb; the off-screen snapshot too. Prints each case's
# median wall time over RUNS runs (default 7) and the ratios. Usage: bench/gltf_speed.sh [N [RUNS]]
set -euo pipefail
cd "$(dirname "$0")/.."
triangles=${1:-1000000}
runs=${2:-7}
. bench/window_env.sh mirandel-gltf-bench
viewer=$(pwd)/${MIRANDEL_BENCH_BUILD:-build}/mirandel
glb=$work/$(python3 bench/make_gltf.py "$triangles" "$work" glb)
ply=$work/$(python3 bench/make_gltf.py "$triangles" "$work" ply)
export OBJ_PATH=$work

# The median wall time of `runs` runs of the command, in seconds, after one run not counted.
median() {
  local times=() start
  "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; return 1; }
  for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    times+=($(($(date +%s%N) - start)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{ t[NR] = $1 / 1e9 } END { printf "%.3f", t[int((NR + 1) / 2)] }'
}

printf '%s: %s bytes; %s: %s bytes; %s runs each, median wall seconds\n' \
  "$(basename "$glb")" "$(stat -c %s "$glb")" "$(basename "$ply")" "$(stat -c %s "$ply")" "$runs"
info_glb=$(median "$viewer" --info -in "$glb")
info_ply=$(median "$viewer" --info -in "$ply")
echo "--info glb $info_glb  ply $info_ply  glb/ply $(awk -v a="$info_glb" -v b="$info_ply" 'BEGIN { printf "%.2f", a / b }')"
snap=$(median "$viewer" --snapshot "$work/m.png" -in "$glb")
offscreen=$(median env -u DISPLAY "$viewer" --snapshot "$work/o.png" -in "$glb")
echo "--snapshot window $snap  off-screen $offscreen"
if command -v f3d >/dev/null; then
  f3d=$(median f3d --output="$work/f.png" "$glb")
  echo "f3d --output $f3d  snapshot/f3d window $(awk -v a="$snap" -v b="$f3d" 'BEGIN { printf "%.2f", a / b }')" \
    "off-screen $(awk -v a="$offscreen" -v b="$f3d" 'BEGIN { printf "%.2f", a / b }')"
else
  echo "f3d is not installed: no comparison"
fi
