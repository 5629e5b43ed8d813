#!/usr/bin/env bash
# OBJ loading beside its yardsticks, in one run on the same file: the benchmark torus of about N
# triangles written as OBJ (N = 1000000: 500k "v", 1M "f", 38 MB) by bench/make_obj.py.
#   parse        the usual OBJ library's bare ObjReader::ParseFromFile, timed inside a small
#                program of ours (bench/obj_parse_peer.cpp, Debian package libtinyobjloader-dev)
#   --info       the viewer reading, converting and completing the object, without a window
#   first frame  f3d --output (Debian package f3d) against the viewer's --snapshot, both on a
#                private Xvfb, when f3d is installed
# The runs alternate, R rounds of each; medians are printed with their ratios and the targets.
# bench/obj_speed.sh [N] [R]. A benchmark: it prints figures and the targets, fails on nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
triangles=${1:-1000000}
runs=${2:-5}
# A release viewer without sanitizers, in its own folder; bench/window_env.sh builds it there too.
export MIRANDEL_BENCH_BUILD=build-rel
cmake -S . -B build-rel -DCMAKE_BUILD_TYPE=Release -DMIRANDEL_TESTS=OFF >/dev/null
. bench/window_env.sh mirandel-obj
bin=$PWD/build-rel/mirandel
peer=
if [ -f /usr/include/tiny_obj_loader.h ]; then
  c++ -O2 bench/obj_parse_peer.cpp -o "$work/obj_parse_peer" -ltinyobjloader
  peer=$work/obj_parse_peer
fi
have_f3d=
command -v f3d >/dev/null && have_f3d=1

name=$(python3 bench/make_obj.py "$triangles" "$work")
export OBJ_PATH="$work"
cd "$work"
echo "$(nproc) processors, load average $(cut -d' ' -f1-3 /proc/loadavg); medians of $runs runs"
echo "$name ($(du -m "$name" | cut -f1) MB):"

# elapsed CMD...: the wall-clock seconds of one run.
elapsed() {
  /usr/bin/time -o "$work/time" -f "%e" "$@" >/dev/null 2>&1 || true
  tail -1 "$work/time"
}
median() { sort -n "$1" | awk '{ a[NR] = $1 } END { print NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
row() { printf "  %-40s %6s s%s\n" "$1" "$2" "${3:-}"; }

: >info; : >parse; : >snapshot; : >f3d
for _ in $(seq "$runs"); do
  elapsed "$bin" --info -in "$name" >>info
  [ -n "$peer" ] && "$peer" "$name" | cut -d' ' -f1 >>parse
  elapsed "$bin" -in "$name" --snapshot "$work/mirandel.png" >>snapshot
  [ -n "$have_f3d" ] && elapsed f3d --output "$work/f3d.png" "$name" >>f3d
done
counts=$("$bin" --info -in "$name" | sed -n 2,3p | tr '\n' ' ')
info=$(median info)
row "mirandel --info ($counts)" "$info"
if [ -n "$peer" ]; then
  parse=$(median parse)
  row "usual OBJ library, bare parse" "$parse" \
    "   mirandel $(ratio "$info" "$parse") x (target <= 0.5)"
fi
snapshot=$(median snapshot)
row "mirandel --snapshot (first frame)" "$snapshot"
if [ -n "$have_f3d" ]; then
  theirs=$(median f3d)
  row "f3d --output (first frame)" "$theirs" \
    "   mirandel $(ratio "$snapshot" "$theirs") x (target <= 0.5)"
fi
