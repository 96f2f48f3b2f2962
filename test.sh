#!/usr/bin/env bash
# Installs dependencies, builds and runs every test suite.
#   ./test.sh              normal build in build/
#   ./test.sh --sanitize   AddressSanitizer + UBSan build in build-asan/
#   ./test.sh --fuzz SECONDS [TARGET...]
#                          libFuzzer build (clang) in build-fuzz/, then each
#                          fuzz target for SECONDS, one after the other
set -euo pipefail
cd "$(dirname "$0")"

if [ "${1:-}" = "--fuzz" ]; then
  FUZZ_SECONDS=${2:?usage: ./test.sh --fuzz SECONDS [TARGET...]}
  shift 2
  ./scripts/install-deps.sh
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DORVALIS_FUZZ=ON \
    -DORVALIS_BUILD_GUI=OFF -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build build-fuzz --target fuzzers
  exec fuzz/run.sh build-fuzz "$FUZZ_SECONDS" "$@"
fi

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
