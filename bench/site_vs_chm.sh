#!/usr/bin/env bash
# Builds one collection as a compiled help file and as web pages, RUNS times
# each, alternating, and prints every wall time, the medians and the sizes.
# Web pages are timed twice: replacing the site of the run before (a
# rebuild) and into a new folder (a first build).
#   bench/site_vs_chm.sh BUILD_DIR COLLECTION [RUNS]
# COLLECTION: e.g. made once with
#   /usr/bin/python3 ../shared/tools/make_real_corpus.py /tmp/catcorpus10k 10000
# RUNTIME_DIR=/dev/shm/x puts the working folder elsewhere (a desktop's is a
# tmpfs); by default it shares the output's file system.
set -euo pipefail
. "$(dirname "$0")/bench_lib.sh"
bench_setup "$@"
runtime=${RUNTIME_DIR:-$work/run}
mkdir -p "$runtime"
chmod 700 "$runtime"
one() {
  local start end
  start=$(date +%s.%N)
  HOME=$work XDG_RUNTIME_DIR=$runtime LC_ALL=C.UTF-8 "$work/bin/orvalis" build --force "$@" "$collection" \
    > /dev/null 2> "$work/err.txt" || { cat "$work/err.txt" >&2; exit 1; }
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
chm=() site=() fresh=()
# Alternating runs share whatever the disk cache and the machine do.
for ((i = 0; i < runs; ++i)); do
  chm+=("$(one --out "$work/out.chm")")
  site+=("$(one --html "$work/site")")
  fresh+=("$(one --html "$work/fresh-$i")")
  rm -rf "$work/fresh-$i"
done
echo "chm   runs: ${chm[*]}"
echo "site  runs: ${site[*]}"
echo "first runs: ${fresh[*]}"
echo "chm   median: $(median "${chm[@]}") s, $(du -sh "$work/out.chm" | cut -f1)"
echo "site  median: $(median "${site[@]}") s, $(du -sh "$work/site" | cut -f1) in $(find "$work/site" -type f | wc -l) files"
echo "first median: $(median "${fresh[@]}") s (into a new folder)"
