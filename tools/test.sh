#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
# BKIT_SANITIZE=ON runs the suite under AddressSanitizer and UBSan in build-asan/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
build=build; opts=()
if [ "${BKIT_SANITIZE:-OFF}" = ON ]; then build=build-asan; opts+=(-DBKIT_SANITIZE=ON -DBKIT_BUILD_BENCH=OFF); fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${opts[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
