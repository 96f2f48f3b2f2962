#!/usr/bin/env bash
# Builds the catalogue of one collection with and without album covers and
# prints both wall times and file sizes.
#   bench/catalogue_covers.sh BUILD_DIR COLLECTION [RUNS]
# COLLECTION: e.g. made once with
#   /usr/bin/python3 ../shared/tools/make_real_corpus.py /tmp/corpus10k 10000
set -euo pipefail
build=$(cd "$1" && pwd)
collection=$2
runs=${3:-3}
work=$(mktemp -d /tmp/orvalis-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/run"
for f in orvalis data steps.txt fnametemplates.txt default.lng; do cp "$build/$f" "$work/bin/"; done
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
for covers in 0 1; do
  conf $covers
  times=()
  for ((i = 0; i < runs; ++i)); do times+=("$(one $covers)"); done
  best=$(printf '%s\n' "${times[@]}" | sort -n | head -1)
  echo "covers=$covers runs: ${times[*]} best: $best s size: $(stat -c %s "$work/out-$covers.chm") bytes"
done
