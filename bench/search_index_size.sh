#!/usr/bin/env bash
# Builds one collection as a compiled help file with two builds of the
# program (say, before and after a change to the text or the search index),
# RUNS times each, alternating, and prints every wall time, the medians, the
# size of the full-text index ($FIftiMain) and of the whole file, and the
# ratios after/before.
#   bench/search_index_size.sh BEFORE_BUILD_DIR AFTER_BUILD_DIR COLLECTION [RUNS]
# COLLECTION: e.g. made once with
#   /usr/bin/python3 ../shared/tools/make_real_corpus.py /tmp/corpus10k 10000
# Needs python3-chm to read the index size.
set -euo pipefail
. "$(dirname "$0")/bench_lib.sh"
before_dir=$1
shift
bench_setup "$@"
after_bin=$work/bin
before_bin=$work/before
mkdir -p "$before_bin"
for f in orvalis data steps.txt fnametemplates.txt default.lng; do cp "$before_dir/$f" "$before_bin/"; done
runtime=$work/run
mkdir -p "$runtime"
chmod 700 "$runtime"
one() {
  local bin=$1 out=$2 start end
  start=$(date +%s.%N)
  HOME=$work XDG_RUNTIME_DIR=$runtime LC_ALL=C.UTF-8 "$bin/orvalis" build --force --out "$out" "$collection" \
    > /dev/null 2> "$work/err.txt" || { cat "$work/err.txt" >&2; exit 1; }
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
index_size() {
  /usr/bin/python3 -c '
import sys, chm.chmlib as c
f = c.chm_open(sys.argv[1].encode())
ok, ui = c.chm_resolve_object(f, b"/$FIftiMain")
print(ui.length if ok == c.CHM_RESOLVE_SUCCESS else 0)
' "$1"
}
before=() after=()
for ((i = 0; i < runs; ++i)); do
  before+=("$(one "$before_bin" "$work/before.chm")")
  after+=("$(one "$after_bin" "$work/after.chm")")
done
bi=$(index_size "$work/before.chm")
ai=$(index_size "$work/after.chm")
bs=$(stat -c %s "$work/before.chm")
as=$(stat -c %s "$work/after.chm")
bm=$(median "${before[@]}")
am=$(median "${after[@]}")
echo "before runs: ${before[*]}"
echo "after  runs: ${after[*]}"
echo "build time median: before $bm s, after $am s, ratio $(echo "scale=3; $am / $bm" | bc)"
echo "search index: before $bi bytes, after $ai bytes, ratio $(echo "scale=3; $ai / $bi" | bc)"
echo "whole file:   before $bs bytes, after $as bytes, ratio $(echo "scale=3; $as / $bs" | bc)"
