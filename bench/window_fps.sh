#!/usr/bin/env bash
# Display-list compile time and frames per second while spinning a large object, on a private
# Xvfb (software rendering): bench/window_fps.sh [triangles] [seconds]
# Every bench/make_<fmt>.py whose object the viewer loads is measured. A benchmark: it prints
# figures and fails on nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
triangles=${1:-1000000}
seconds=${2:-10}
. bench/window_env.sh mirandel-fps
bin=$PWD/build/mirandel

echo "renderer: Mesa software rasteriser on Xvfb, window 560 x 525; $(nproc) processors," \
  "load average $(cut -d' ' -f1-3 /proc/loadavg)"

shopt -s nullglob
for maker in bench/make_*.py; do
  dir="$work/$(basename "$maker" .py)"
  mkdir -p "$dir"
  # The first object a maker writes (binary before ascii); cutting its output short would kill it.
  name=$(python3 "$maker" "$triangles" "$dir" 2>/dev/null) || continue
  name=${name%%$'\n'*}
  [ -n "$name" ] || continue
  if ! OBJ_PATH="$dir" "$bin" --info -in "$name" >"$dir/info.txt" 2>&1; then
    echo "$name: not loadable here, skipped"
    continue
  fi
  echo "== $name ($(sed -n 3p "$dir/info.txt"))"
  OBJ_PATH="$dir" MIRANDEL_BENCH_SPIN="$seconds" "$bin" -in "$name" || echo "$name: run failed"
  rm -rf "$dir"
done
