#!/usr/bin/env bash
# Installs what is missing, builds the program with the flags Debian builds its own packages with,
# makes the Debian package build-package/yunshan-note_<version>_<arch>.deb and checks it with
# lintian (fails on its errors and warnings). Install it with
#   sudo apt install ./build-package/yunshan-note_<version>_<arch>.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
out=build-package

# Debian's compiler and linker flags with every hardening feature (fortified functions, stack
# protector, read-only relocations bound at start).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DYUNSHAN_TESTS=OFF -DYUNSHAN_BENCH=OFF \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $cppflags" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $cppflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake --build "$out" -j "$(nproc)"

rm -f "$out"/*.deb
(cd "$out" && cpack -G DEB)
deb=$(echo "$out"/*.deb)
lintian --fail-on error,warning --display-info --pedantic "$deb"
echo "Built $deb"
