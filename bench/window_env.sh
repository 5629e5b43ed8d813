# Sourced by the window benchmarks: a release viewer, a scratch folder $work and a private Xvfb
# as $DISPLAY, both gone when the script ends. Usage: . bench/window_env.sh PREFIX
# The viewer is built in build/, or in $MIRANDEL_BENCH_BUILD when that is set.
cmake -S . -B "${MIRANDEL_BENCH_BUILD:-build}" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "${MIRANDEL_BENCH_BUILD:-build}" -j2 --target mirandel >/dev/null
work=$(mktemp -d "/tmp/$1-XXXXXX")
xpid=
cleanup() {
  if [ -n "$xpid" ]; then kill "$xpid" 2>/dev/null || true; wait "$xpid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$work/display" >/dev/null 2>&1 &
xpid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
if [ ! -s "$work/display" ]; then echo "Xvfb did not start"; exit 0; fi
export DISPLAY=":$(head -1 "$work/display")"
