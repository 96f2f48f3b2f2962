#!/bin/bash
# Reading a whole collection: our readers against TagLib, side by side.
# Needs the Debian package libtag1-dev (a benchmark dependency only).
#   bench/read_vs_taglib.sh BUILD_DIR FOLDER [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
cmake --build "$build" --target bench_read_formats > /dev/null
out=$(mktemp -d /tmp/orvalis-taglib-XXXXXX)
trap 'rm -rf "$out"' EXIT
g++ -std=c++20 -O2 -Wall -Wextra "$here/taglib/read_taglib.cpp" -o "$out/read_taglib" $(pkg-config --cflags --libs taglib)
# read_formats_vs.sh prints "new" for the first program and "old" for the second.
echo "new = Orvalis, old = TagLib"
"$here/read_formats_vs.sh" "$build/bench/bench_read_formats" "$out/read_taglib" "$2" "${3:-5}"
