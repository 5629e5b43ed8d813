#!/usr/bin/env bash
# Builds a release viewer and runs the load benchmark: bench/run.sh [triangles ...]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target mirandel mirandel-wrl2geom >/dev/null
exec python3 bench/run.py "$@"
