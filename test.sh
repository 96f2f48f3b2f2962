#!/usr/bin/env bash
# Installs dependencies, builds and runs every test suite.
#   ./test.sh              normal build in build/
#   ./test.sh --sanitize   AddressSanitizer + UBSan build in build-asan/
set -euo pipefail
cd "$(dirname "$0")"

BUILD_DIR=build
CMAKE_ARGS=()
if [ "${1:-}" = "--sanitize" ]; then
  BUILD_DIR=build-asan
  CMAKE_ARGS+=(-DORVALIS_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
  export ASAN_OPTIONS=detect_leaks=1
  export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp"
  export UBSAN_OPTIONS=print_stacktrace=1
fi

./scripts/install-deps.sh --tests
cmake -S . -B "$BUILD_DIR" -G Ninja "${CMAKE_ARGS[@]}"
cmake --build "$BUILD_DIR"
ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$(nproc)"
