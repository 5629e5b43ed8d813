#!/usr/bin/env bash
# STL loading against its yardsticks, in one run on the same files (binary tori of about N and 4N
# triangles, and the ascii one of about N):
#   floor       a small program of ours making the mesh library's read and repair calls alone
#               (bench/stl_floor.c): what no STL load can undercut;
#   --info      the viewer reading, repairing and converting the object, without a window;
#   snapshot    the viewer's first picture (--snapshot) beside f3d's (f3d --output, Debian package
#               f3d, when installed), both on a private Xvfb.
# Every command runs once a round, R rounds in turn, each under /usr/bin/time -v: a figure is the
# median of its R wall-clock times and peak memories, and a ratio the median of the R ratios taken
# round by round, so that a machine whose load drifts still compares like with like.
# bench/stl_speed.sh [N] [R]. A benchmark: it prints figures and the targets, fails on nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
triangles=${1:-1000000}
rounds=${2:-5}
# A release viewer without sanitizers, in its own folder; bench/window_env.sh builds it there too.
export MIRANDEL_BENCH_BUILD=build-rel
cmake -S . -B build-rel -DCMAKE_BUILD_TYPE=Release -DMIRANDEL_TESTS=OFF >/dev/null
. bench/window_env.sh mirandel-stl
bin=$PWD/build-rel/mirandel
cc -O2 bench/stl_floor.c -o "$work/stl_floor" -ladmesh
have_f3d=
command -v f3d >/dev/null && have_f3d=1

# measure KEY CMD...: one run under /usr/bin/time -v; appends "<seconds> <megabytes>" to
# $work/KEY.
measure() {
  local key=$1
  shift
  /usr/bin/time -v -o "$work/time" "$@" >/dev/null 2>&1 || true
  awk '/Elapsed \(wall clock\)/ { n = split($NF, t, ":"); s = 0
                                  for (i = 1; i <= n; ++i) s = s * 60 + t[i] }
       /Maximum resident set size/ { m = $NF / 1024 }
       END { printf "%.3f %.1f\n", s, m }' "$work/time" >>"$work/$key"
}
# median FILE COLUMN
median() {
  sort -g -k"$2","$2" "$1" | awk -v c="$2" '{ v[NR] = $c }
    END { if (NR % 2) printf "%.3f", v[(NR + 1) / 2]; else printf "%.3f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# ratios A B: the round-by-round ratios of A's times to B's (column 1), one a line.
ratios() { paste -d' ' "$work/$1" "$work/$2" | awk '{ printf "%.4f\n", $1 / $3 }'; }
ratio() {
  ratios "$1" "$2" >"$work/ratio"
  printf "%.2f" "$(median "$work/ratio" 1)"
}
memratio() {
  awk -v a="$(median "$work/$1" 2)" -v b="$(median "$work/$2" 2)" 'BEGIN { printf "%.2f", a / b }'
}
row() {
  printf "  %-32s %7s s %8s MB%s\n" "$1" "$(median "$work/$2" 1)" "$(median "$work/$2" 2)" "${3:-}"
}

names=$(python3 bench/make_stl.py "$triangles" "$work")
bin1=$(echo "$names" | sed -n 1p) ascii1=$(echo "$names" | sed -n 2p)
bin4=$(python3 bench/make_stl.py $((4 * triangles)) "$work" binary)
export OBJ_PATH="$work"
cd "$work"

# One round: every command once, in turn.
for _ in $(seq "$rounds"); do
  for size in 1 4; do
    name=$bin1
    [ "$size" = 4 ] && name=$bin4
    measure floor$size ./stl_floor "$name"
    measure info$size "$bin" --info -in "$name"
    measure snap$size "$bin" -in "$name" --snapshot "$work/mirandel.png"
    [ -n "$have_f3d" ] && measure f3d$size f3d --output "$work/f3d.png" "$name"
  done
  measure snapA "$bin" -in "$ascii1" --snapshot "$work/mirandel.png"
  [ -n "$have_f3d" ] && measure f3dA f3d --output "$work/f3d.png" "$ascii1"
done

echo "$(nproc) processors, load average $(cut -d' ' -f1-3 /proc/loadavg) at the end;" \
  "medians of $rounds rounds"
for size in 1 4; do
  name=$bin1 target=0.8
  [ "$size" = 4 ] && name=$bin4 target=1
  echo "$name (binary, $(du -m "$name" | cut -f1) MB):"
  row "floor (library calls alone)" floor$size
  row "mirandel --info" info$size \
    "   $(ratio info$size floor$size) x floor (target <= 1.15), memory $(memratio info$size floor$size) x"
  row "mirandel --snapshot" snap$size "   $(ratio snap$size floor$size) x floor"
  if [ -n "$have_f3d" ]; then
    row "f3d --output" f3d$size
    echo "  first picture: mirandel $(ratio snap$size f3d$size) x f3d (target <= $target)," \
      "peak memory $(memratio snap$size f3d$size) x f3d (target < 1)"
  fi
done
echo "$ascii1 (ascii, $(du -m "$ascii1" | cut -f1) MB):"
row "mirandel --snapshot" snapA
if [ -n "$have_f3d" ]; then
  row "f3d --output" f3dA
  echo "  first picture: mirandel $(ratio snapA f3dA) x f3d (target <= 1)"
fi
