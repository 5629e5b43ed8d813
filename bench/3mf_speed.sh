#!/usr/bin/env bash
# 3MF loading against the general import library (Debian libassimp-dev): a package of the torus
# of about N triangles (bench/make_3mf.py), loaded R times by each in turn, the viewer's --info
# (whole pipeline, no window) and bench/assimp_load.cpp (the library's load with smooth normals
# generated). Prints each one's median wall-clock time, peak memory and the ratio of the medians.
# bench/3mf_speed.sh [N] [R]. A benchmark: it prints figures and the target, fails on nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
triangles=${1:-1000000}
runs=${2:-7}
build=${MIRANDEL_BENCH_BUILD:-build-rel}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DMIRANDEL_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target mirandel >/dev/null
bin=$PWD/$build/mirandel
work=$(mktemp -d /tmp/mirandel-3mf-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
name=$(python3 bench/make_3mf.py "$triangles" "$work")
have_assimp=0
if [ -f /usr/include/assimp/Importer.hpp ]; then
  c++ -O2 bench/assimp_load.cpp -o "$work/assimp_load" -lassimp && have_assimp=1
else
  echo "(no libassimp-dev: the library's figure is left out)"
fi
export OBJ_PATH="$work"
cd "$work"
echo "$(nproc) processors, load average $(cut -d' ' -f1-3 /proc/loadavg); $runs paired runs"
echo "$name ($(du -k "$name" | cut -f1) KB zipped):"

# One run of CMD...: appends "<seconds> <kilobytes>" to the file $1.
once() {
  local out=$1
  shift
  /usr/bin/time -o "$work/time" -f "%e %M" "$@" >/dev/null 2>"$work/err" || cat "$work/err" >&2
  tail -1 "$work/time" >>"$out"
}
for _ in $(seq "$runs"); do
  once ours "$bin" --info -in "$name"
  [ $have_assimp = 1 ] && once theirs ./assimp_load "$name"
done
median() { sort -n "$1" | awk '{ t[NR] = $1; m[NR] = $2 } END { i = int((NR + 1) / 2);
  printf "%.3f %.1f", t[i], m[i] / 1024 }'; }
ours=$(median ours)
printf "  %-36s %7s s %8s MB\n" "mirandel --info" ${ours}
if [ $have_assimp = 1 ]; then
  theirs=$(median theirs)
  printf "  %-36s %7s s %8s MB\n" "assimp ReadFile + GenSmoothNormals" ${theirs}
  awk -v a="${ours% *}" -v b="${theirs% *}" \
    'BEGIN { printf "  ratio of the medians %.2f (target <= 0.40)\n", a / b }'
fi
