#!/usr/bin/env bash
# The viewer beside the plainest display-list program on the same 1M-triangle binary STL, on a
# private Xvfb: time to the first frame (--snapshot) and frames per second while spinning.
# bench/bare_compare.sh [triangles] [seconds]. A benchmark: it prints figures, fails on nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
triangles=${1:-1000000}
seconds=${2:-10}
. bench/window_env.sh mirandel-bare
cc -O2 bench/bare_fps.c -o "$work/bare_fps" -lglut -lGL -lm
name=$(python3 bench/make_stl.py "$triangles" "$work" binary)
name=$(basename "$name")
echo "object: $name; load average $(cut -d' ' -f1-3 /proc/loadavg)"
TIMEFORMAT="viewer: first frame written %R s after start"
time OBJ_PATH="$work" build/mirandel -in "$name" --snapshot "$work/first.png"
OBJ_PATH="$work" MIRANDEL_BENCH_SPIN="$seconds" build/mirandel -in "$name"
"$work/bare_fps" "$work/$name" "$seconds"
