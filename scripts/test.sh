#!/usr/bin/env bash
# Builds the updater and its tests in build/ and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DUPDATER_WARNINGS_AS_ERRORS="${UPDATER_WARNINGS_AS_ERRORS:-OFF}"
cmake --build build -j2
cd build
ctest --output-on-failure -j2
