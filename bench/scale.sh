#!/usr/bin/env bash
# Builds generated collections into both outputs and prints, for each: wall
# time, time per track and peak memory of the .chm build and of the web
# folder build; for the web folder also what its start page loads and how
# long the first search takes in headless Chromium. With --before OLD_BUILD
# the same runs are made with that program too, alternating, and the table
# shows both side by side.
#   bench/scale.sh [--before OLD_BUILD_DIR] [--runs N] [--no-chm] BUILD_DIR [CORPUS...]
# CORPUS defaults to /tmp/corpus10k /tmp/corpus200k (those missing are
# skipped). Make them once with
#   /usr/bin/python3 ../shared/tools/make_real_corpus.py /tmp/corpus10k 10000
# (10 000 tracks took 52 s, 50 000 127 s and 200 000 12 minutes here, on a
# busy 2-core machine). Needs /usr/bin/time (apt-get install time) and bc;
# chromium for the search figures (skipped without it), and node 20 or later
# for the search typed after the page has loaded (search_after_load.mjs).
set -euo pipefail
before='' runs=1 chm=1
while [[ $# -gt 0 && $1 == --* ]]; do
  case $1 in
    --before) before=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --no-chm) chm=0; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
[[ $# -ge 1 ]] || { sed -n 2,15p "$0"; exit 2; }
after=$1; shift
corpora=("$@")
[[ ${#corpora[@]} -gt 0 ]] || corpora=(/tmp/corpus10k /tmp/corpus200k)
[[ -x /usr/bin/time ]] || { echo "needs /usr/bin/time: apt-get install time" >&2; exit 2; }

work=$(mktemp -d /tmp/orvalis-scale-XXXXXX)
trap 'rm -rf "$work"' EXIT
copy() {  # BUILD_DIR NAME: a copy of the program with its data beside it
  mkdir -p "$work/$2"
  for f in orvalis data steps.txt fnametemplates.txt default.lng; do
    [[ -e $1/$f ]] && cp -r "$1/$f" "$work/$2/"
  done
}
programs=(after)
copy "$after" after
if [[ -n $before ]]; then copy "$before" before; programs=(before after); fi
chromium=$(command -v chromium || command -v chromium-browser || true)
node=$(command -v node || true)
median() { printf '%s\n' "$@" | sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }

# Reads every file of a collection, so that a build finds it in the page
# cache: some systems page out what was not read for a minute (DAMON's
# pageout scheme), which left part of a 200 000-track collection on the
# device between runs and made its scan up to 4 times slower.
warm() { find "$1" -type f -print0 | xargs -0 cat > /dev/null; }

# One build: prints "seconds peak_kb".
build() {  # PROGRAM COLLECTION ARGS...
  local program=$1 collection=$2; shift 2
  mkdir -p "$work/run"; chmod 700 "$work/run"
  HOME=$work XDG_RUNTIME_DIR=$work/run LC_ALL=C.UTF-8 /usr/bin/time -o "$work/time.txt" -f '%e %M' \
    "$work/$program/orvalis" build --force "$@" "$collection" > /dev/null 2> "$work/err.txt" ||
    { cat "$work/err.txt" >&2; exit 1; }
  cat "$work/time.txt"
}

# What the start page of SITE loads: "bytes largest_bytes largest_name".
start_load() {
  local site=$1 total=0 largest=0 name='' f size
  for f in index.html $(grep -oE '(src|href)="[^"#?:]+"' "$site/index.html" | sed -E 's/^[a-z]+="//; s/"$//' |
                        sort -u | grep -vE '\.html?$' || true) main.html; do
    [[ -f $site/$f ]] || continue
    size=$(stat -c %s "$site/$f")
    total=$((total + size))
    if ((size > largest)); then largest=$size; name=$f; fi
  done
  echo "$total $largest $name"
}

# The first search in the start page, in headless Chromium: milliseconds
# from opening the page to the point where the query is typed, and from
# there to the results shown (the part of the index it needs loaded).
search_time() {  # SITE QUERY
  local site=$1 query=$2
  local probe="<script>(function () {
  var t0 = performance.now(), box = document.getElementById('q'), r = document.getElementById('results'), done = -1;
  function check() { if (done < 0 && r && !r.hidden && r.firstChild) done = performance.now(); }
  if (box) { new MutationObserver(check).observe(r, { childList: true, attributes: true });
    box.value = $query; box.dispatchEvent(new Event('input')); check(); }
  addEventListener('load', function () { setTimeout(function () {
    var p = document.createElement('pre'); p.id = 'measure';
    p.textContent = Math.round(t0) + ' ' + (done < 0 ? -1 : Math.round(done - t0)) + ' ' + (r ? r.getElementsByTagName('li').length : 0);
    document.body.appendChild(p); }, 0); });
})();</script>"
  awk -v probe="$probe" '/<\/body>/ { print probe } { print }' "$site/index.html" > "$site/measure.html"
  timeout 120 "$chromium" --headless --no-sandbox --disable-gpu --no-first-run --user-data-dir="$work/profile" \
    --dump-dom "file://$site/measure.html" 2> /dev/null | grep -oE '<pre id="measure">[^<]*' | sed 's/.*>//' || echo "- - -"
  rm -f "$site/measure.html"
}

# A query that loads the largest part of the split index (the worst case),
# or a frequent one for a site with one index.
worst_query() {
  local site=$1 part
  if [[ -d $site/search ]]; then
    part=$(find "$site/search" -maxdepth 1 -type f -name '*.js' -printf '%s %f\n' | sort -n | tail -1 | cut -d' ' -f2)
    part=${part%.js}
    /usr/bin/python3 -c 'import sys, json; print(json.dumps("".join(chr(int(c, 16)) for c in sys.argv[1].split("-"))))' "$part"
  else
    echo '"lo"'
  fi
}

printf '%-8s %-22s %7s %9s %7s %9s %7s %9s %9s %10s %9s %8s %8s\n' program collection tracks \
  'chm s' 'us/trk' 'chm MB' 'site s' 'us/trk' 'site MB' 'index KB' 'start KB' 'open ms' 'find ms'
for collection in "${corpora[@]}"; do
  [[ -d $collection ]] || { echo "skipping $collection: missing" >&2; continue; }
  tracks=$(find "$collection" -type f \( -iname '*.mp3' -o -iname '*.flac' -o -iname '*.m4a' -o -iname '*.ogg' \
    -o -iname '*.wma' \) | wc -l)
  declare -A chm_t=() chm_m=() site_t=() site_m=()
  # Alternating, so both programs share whatever the machine does.
  for ((i = 0; i < runs; ++i)); do
    for p in "${programs[@]}"; do
      if ((chm)); then
        warm "$collection"
        read -r t m < <(build "$p" "$collection" --out "$work/$p.chm")
        rm -f "$work/$p.chm"
      else
        t=0 m=0
      fi
      chm_t[$p]+="$t " chm_m[$p]+="$m "
      warm "$collection"
      read -r t m < <(build "$p" "$collection" --html "$work/site-$p")
      site_t[$p]+="$t " site_m[$p]+="$m "
      [[ $i -eq $((runs - 1)) ]] || rm -rf "$work/site-$p"
    done
  done
  for p in "${programs[@]}"; do
    site=$work/site-$p
    ct=$(median ${chm_t[$p]}) cm=$(median ${chm_m[$p]}) st=$(median ${site_t[$p]}) sm=$(median ${site_m[$p]})
    read -r load largest largest_name < <(start_load "$site")
    open='-' find='-'
    if [[ -n $chromium ]]; then read -r open find _ < <(search_time "$site" "$(worst_query "$site")"); fi
    printf '%-8s %-22s %7d %9.2f %7.1f %9.0f %7.2f %9.1f %9.0f %10.0f %9.0f %8s %8s\n' "$p" "$(basename "$collection")" \
      "$tracks" "$ct" "$(echo "$ct * 1000000 / $tracks" | bc -l)" "$(echo "$cm / 1024" | bc -l)" "$st" \
      "$(echo "$st * 1000000 / $tracks" | bc -l)" "$(echo "$sm / 1024" | bc -l)" \
      "$(echo "$(stat -c %s "$site/index.html") / 1024" | bc -l)" "$(echo "$load / 1024" | bc -l)" "$open" "$find"
    echo "         largest file the start page loads: $largest_name ($largest bytes); keyword page(s): $(
      du -cb "$site"/keywords*.html | tail -1 | cut -f1) bytes in $(ls "$site"/keywords*.html | wc -l) file(s);" \
      "largest search file: $(find "$site/search.js" "$site/search" -type f -printf '%s %p\n' 2>/dev/null | sort -n | tail -1 |
      awk '{print $1 " bytes (" $2 ")"}' |
      sed "s|$site/||"); all search files: $(find "$site/search.js" "$site/search" -name '*.js' -printf '%s\n' 2>/dev/null |
      awk '{s += $1} END {print s + 0}') bytes"
    if [[ -n $chromium && -n $node ]]; then
      query=$(/usr/bin/python3 -c 'import sys, json; print(json.loads(sys.argv[1]))' "$(worst_query "$site")")
      echo "         the same query typed once the page has loaded: $(CHROMIUM=$chromium "$node" --no-warnings \
        --experimental-websocket "$(dirname "$0")/search_after_load.mjs" "$site" "$query" 3 | tail -1)"
    fi
    rm -rf "$site"
  done
  unset chm_t chm_m site_t site_m
done
echo "open ms: from opening index.html to its scripts having run; find ms: from typing the query that loads the"
echo "largest part of the index (or any query, for one whole index) to its results shown, typed while the page"
echo "is still loading; the line below each site types it once the page has loaded, as a reader would"
