#!/usr/bin/env bash
# Installs what is missing, checks the formatting, builds everything with warnings as errors and
# runs every test: once as a normal build, once under AddressSanitizer and
# UndefinedBehaviorSanitizer (skip with YUNSHAN_NO_SANITIZE=1).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)
bash scripts/format.sh --check

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DYUNSHAN_WERROR=ON
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

if [ "${YUNSHAN_NO_SANITIZE:-0}" != 1 ]; then
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DYUNSHAN_SANITIZE=ON -DYUNSHAN_BENCH=OFF -DYUNSHAN_WERROR=ON
  cmake --build build-asan -j "$jobs"
  ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"
fi
