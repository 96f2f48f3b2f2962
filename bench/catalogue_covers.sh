#!/usr/bin/env bash
# Builds the catalogue of one collection with and without album covers and
# prints both wall times (medians of alternating runs), their ratio and the
# file sizes.
#   bench/catalogue_covers.sh BUILD_DIR COLLECTION [RUNS]
# COLLECTION: e.g. made once with
#   /usr/bin/python3 ../shared/tools/make_real_corpus.py /tmp/corpus10k 10000
set -euo pipefail
. "$(dirname "$0")/bench_lib.sh"
bench_setup "$@"
mkdir -p "$work/run"
conf() {
  printf '<?xml version="1.0" encoding="Windows-1252" ?>\n<XMLConfig><info>orvalis config file</info>\n<group name="Options"><param name="Covers">%s</param></group></XMLConfig>\n' "$1" \
    > "$work/bin/orvalis.conf.xml"
}
one() {
  local start end
  start=$(date +%s.%N)
  HOME=$work XDG_RUNTIME_DIR=$work/run LC_ALL=C.UTF-8 "$work/bin/orvalis" build --force --out "$work/out-$1.chm" \
    "$collection" > /dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
# Alternating runs, so both sides see the same machine load.
declare -a t0 t1
for ((i = 0; i < runs; ++i)); do
  conf 0; t0+=("$(one 0)")
  conf 1; t1+=("$(one 1)")
done
m0=$(median "${t0[@]}")
m1=$(median "${t1[@]}")
s0=$(stat -c %s "$work/out-0.chm")
s1=$(stat -c %s "$work/out-1.chm")

echo "covers=0 runs: ${t0[*]} median: $m0 s size: $s0 bytes"
echo "covers=1 runs: ${t1[*]} median: $m1 s size: $s1 bytes"
echo "ratio with/without: $(echo "scale=3; $m1 / $m0" | bc)  growth: $(( (s1 - s0) / 1024 )) KiB"
