#!/usr/bin/env bash
# STL loading against its yardsticks, in one run on the same files (tori of about N and 4N
# triangles, binary and ascii):
#   floor       a small program of ours making the mesh library's read and repair calls alone
#               (bench/stl_floor.c): what no STL load can undercut;
#   --info      the viewer reading, repairing and converting the object, without a window;
#   admesh      the library's own tool (Debian package admesh), when installed;
#   first frame f3d --output against the viewer's --snapshot, both on a private Xvfb, when f3d
#               (Debian package f3d) is installed.
# Each figure is the best wall-clock time of R runs and the peak memory of that run.
# bench/stl_speed.sh [N] [R]. A benchmark: it prints figures and the targets, fails on nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
triangles=${1:-1000000}
runs=${2:-3}
# A release viewer without sanitizers, in its own folder; bench/window_env.sh builds it there too.
export MIRANDEL_BENCH_BUILD=build-rel
cmake -S . -B build-rel -DCMAKE_BUILD_TYPE=Release -DMIRANDEL_TESTS=OFF >/dev/null
. bench/window_env.sh mirandel-stl
bin=$PWD/build-rel/mirandel
cc -O2 bench/stl_floor.c -o "$work/stl_floor" -ladmesh

# best CMD...: "<seconds> <megabytes>" of the fastest of $runs runs.
best() {
  local b= m= t
  for _ in $(seq "$runs"); do
    /usr/bin/time -o "$work/time" -f "%e %M" "$@" >/dev/null 2>&1 || true
    t=$(tail -1 "$work/time")
    if [ -z "$b" ] || awk -v a="${t% *}" -v b="$b" 'BEGIN { exit !(a < b) }'; then
      b=${t% *}
      m=$(awk -v k="${t#* }" 'BEGIN { printf "%.1f", k / 1024 }')
    fi
  done
  echo "$b $m"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
row() { printf "  %-34s %6s s %8s MB%s\n" "$1" "${2% *}" "${2#* }" "${3:-}"; }

names=$(python3 bench/make_stl.py "$triangles" "$work")
bin1=$(echo "$names" | sed -n 1p) ascii1=$(echo "$names" | sed -n 2p)
bin4=$(python3 bench/make_stl.py $((4 * triangles)) "$work" binary)
export OBJ_PATH="$work"
cd "$work"
echo "$(nproc) processors, load average $(cut -d' ' -f1-3 /proc/loadavg); best of $runs runs"

echo "$bin1 (binary, $(du -m "$bin1" | cut -f1) MB):"
floor1=$(best ./stl_floor "$bin1")
info1=$(best "$bin" --info -in "$bin1")
row "floor (library calls alone)" "$floor1"
row "mirandel --info" "$info1" \
  "   $(ratio "${info1% *}" "${floor1% *}") x floor (target <= 1.15)"
command -v admesh >/dev/null && row "admesh" "$(best admesh "$bin1")"

echo "$ascii1 (ascii, $(du -m "$ascii1" | cut -f1) MB):"
row "floor (library reading the text)" "$(best ./stl_floor "$ascii1")"
infoA=$(best "$bin" --info -in "$ascii1")
row "mirandel --info" "$infoA" \
  "   $(ratio "${infoA% *}" "${info1% *}") x binary --info (target <= 1.5)"
command -v admesh >/dev/null && row "admesh" "$(best admesh "$ascii1")"

echo "$bin4 (binary, $(du -m "$bin4" | cut -f1) MB):"
floor4=$(best ./stl_floor "$bin4")
info4=$(best "$bin" --info -in "$bin4")
row "floor (library calls alone)" "$floor4"
row "mirandel --info" "$info4" \
  "   $(ratio "${info4% *}" "${info1% *}") x the smaller --info (target <= 4.5),"
echo "  $(printf '%50s' '') memory $(ratio "${info4#* }" "${floor4#* }") x floor (target <= 1.3)"

echo "first frame, Mesa software rendering on Xvfb:"
for kind in binary ascii; do
  name=$bin1
  [ "$kind" = ascii ] && name=$ascii1
  ours=$(best "$bin" -in "$name" --snapshot "$work/mirandel.png")
  row "mirandel --snapshot, $kind" "$ours"
  if command -v f3d >/dev/null; then
    theirs=$(best f3d --output "$work/f3d.png" "$name")
    row "f3d --output, $kind" "$theirs" \
      "   mirandel $(ratio "${ours% *}" "${theirs% *}") x f3d (target <= 1)"
  fi
done
