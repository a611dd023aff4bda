#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DYUNSHAN_TESTS=OFF -DYUNSHAN_BENCH=OFF
cmake --build build --target yunshan-note
exec build/src/yunshan-note "$@"
