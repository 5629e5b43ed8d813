#!/usr/bin/env bash
# Sets up, builds (clang, AddressSanitizer + UndefinedBehaviorSanitizer, -Werror, fuzz targets)
# and runs every test: unit, command-line, window (on private X servers) and bounded fuzz runs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
CC=clang CXX=clang++ cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMIRANDEL_SANITIZE=ON -DMIRANDEL_FUZZ=ON -DMIRANDEL_WERROR=ON >/dev/null
cmake --build build-test -j"$(nproc)"
cd build-test
ctest --output-on-failure -j"$(nproc)" --timeout 900
