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
#
# With --html the same for the web folder's search index: the build's wall
# time and peak memory, the bytes and files of the search index and its
# largest file, and per query the milliseconds from typing it into the start
# page to its results in the DOM in headless Chromium, first with nothing of
# the index loaded ("cold"), then typed again once loaded ("warm"); medians
# of RUNS page loads. The two sites are built one after the other, with nice.
#   bench/search_index_size.sh --html BEFORE_BUILD_DIR AFTER_BUILD_DIR COLLECTION [RUNS] [QUERY...]
# QUERY defaults to: the ocean "lonely ocean" o
set -euo pipefail
. "$(dirname "$0")/bench_lib.sh"
if [[ ${1:-} == --html ]]; then
  before_dir=$2
  shift 2
  bench_setup "$@"
  shift $(($# < 3 ? $# : 3))
  queries=("$@")
  [[ ${#queries[@]} -gt 0 ]] || queries=(the ocean "lonely ocean" o)
  chromium=$(command -v chromium || command -v chromium-browser) || { echo "needs chromium" >&2; exit 2; }
  mkdir -p "$work/before" "$work/run"
  chmod 700 "$work/run"
  bench_copy "$before_dir" "$work/before"
  # One query in a fresh browser: "cold_ms warm_ms results".
  query() {  # SITE QUERY
    local probe
    probe="<script>(function () {
  var box = document.getElementById('q'), r = document.getElementById('results'), t0 = 0, out = '- - -';
  function report() { var p = document.createElement('pre'); p.id = 'measure'; p.textContent = out; document.body.appendChild(p); }
  var seen = new MutationObserver(function () {
    if (r.hidden || !r.firstChild) return;
    seen.disconnect();
    var cold = performance.now() - t0, shown = r.getElementsByTagName('li').length;
    box.value = ''; box.dispatchEvent(new Event('input'));
    var t1 = performance.now();
    box.value = $(/usr/bin/python3 -c 'import json, sys; print(json.dumps(sys.argv[1]))' "$2");
    box.dispatchEvent(new Event('input'));
    out = cold.toFixed(1) + ' ' + (performance.now() - t1).toFixed(1) + ' ' + shown;
  });
  seen.observe(r, { childList: true, attributes: true });
  box.value = $(/usr/bin/python3 -c 'import json, sys; print(json.dumps(sys.argv[1]))' "$2");
  t0 = performance.now();
  box.dispatchEvent(new Event('input'));
  addEventListener('load', function () { setTimeout(report, 0); });
})();</script>"
    awk -v probe="$probe" '/<\/body>/ { print probe } { print }' "$1/index.html" > "$1/measure.html"
    rm -rf "$work/profile"
    timeout 120 "$chromium" --headless --no-sandbox --disable-gpu --no-first-run --user-data-dir="$work/profile" \
      --dump-dom "file://$1/measure.html" 2> /dev/null | grep -oE '<pre id="measure">[^<]*' | sed 's/.*>//' ||
      echo "- - -"
    rm -f "$1/measure.html"
  }
  declare -A result=()
  for p in before after; do
    bin=$work/bin
    [[ $p == before ]] && bin=$work/before
    site=$work/site-$p
    HOME=$work XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run LC_ALL=C.UTF-8 \
      /usr/bin/time -o "$work/time.txt" -f '%e %M' nice "$bin/orvalis" build --html "$site" --force "$collection" \
      > /dev/null 2> "$work/err.txt" || { cat "$work/err.txt" >&2; exit 1; }
    read -r t m < "$work/time.txt"
    files=$(find "$site/search.js" "$site/search" -type f | wc -l)
    bytes=$(find "$site/search.js" "$site/search" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}')
    largest=$(find "$site/search.js" "$site/search" -type f -printf '%s %P\n' | sort -n | tail -1)
    result[$p]="build $t s, peak $((m / 1024)) MB; search index $bytes bytes in $files files, largest $largest"
    for q in "${queries[@]}"; do
      cold=() warm=()
      for ((i = 0; i < runs; ++i)); do
        read -r c w n < <(query "$site" "$q")
        cold+=("$c") warm+=("$w")
      done
      result[$p/$q]="$(median "${cold[@]}") $(median "${warm[@]}") $n"
    done
    rm -rf "$site"
  done
  echo "collection: $collection ($runs runs per query)"
  echo "before: ${result[before]}"
  echo "after:  ${result[after]}"
  printf '%-16s %12s %12s %12s %12s %8s\n' query 'cold before' 'cold after' 'warm before' 'warm after' 'shown'
  for q in "${queries[@]}"; do
    read -r bc bw _ <<< "${result[before/$q]}"
    read -r ac aw an <<< "${result[after/$q]}"
    printf '%-16s %12s %12s %12s %12s %8s\n' "\"$q\"" "$bc ms" "$ac ms" "$bw ms" "$aw ms" "$an"
  done
  echo "cold: from typing the query into a freshly opened start page to its results in the DOM, the index's"
  echo "files loaded on the way; warm: the same query typed again once they are loaded"
  exit 0
fi
before_dir=$1
shift
bench_setup "$@"
after_bin=$work/bin
before_bin=$work/before
bench_copy "$before_dir" "$before_bin"
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
