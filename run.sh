#!/usr/bin/env bash
# Installs what is missing, builds, and renders the built-in demo image with
# the effect through the command-line host.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target QuorvantBlur quorvant-blur
mkdir -p out
build/quorvant-blur -o out/demo.png --amount 60 "$@"
