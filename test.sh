#!/usr/bin/env bash
# Installs what is missing, builds Release and an ASan+UBSan build with
# warnings as errors, and runs every test of both.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQB_WERROR=ON >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure -j "$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQB_WERROR=ON \
  -DQB_SANITIZE=ON -DQB_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"
