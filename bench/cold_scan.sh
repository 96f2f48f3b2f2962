#!/usr/bin/env bash
# The folder scan against the device. Cold cache (the page cache dropped
# before every run, which needs root): the scan reading one file at a time,
# the scan with its default readers, and 32 parallel readers of the first
# 8 KB of every audio file (threads in Python), side by side. Then
# warm cache: one reader against the default. Prints medians and ratios.
#   bench/cold_scan.sh BUILD_DIR [COLLECTION] [RUNS] [READERS]
# COLLECTION defaults to /tmp/corpus50k, made with make_real_corpus.py
# (50 000 tracks) when it does not exist. READERS defaults to the program's.
set -euo pipefail
build=$(cd "$1" && pwd)
collection=${2:-/tmp/corpus50k}
runs=${3:-3}
readers=${4:-}
. "$(dirname "$0")/bench_lib.sh"

scan=$build/bench/bench_scan_pool
[ -x "$scan" ] || cmake --build "$build" --target bench_scan_pool > /dev/null
if [ ! -d "$collection" ]; then
  echo "making $collection (50 000 tracks; this takes a while)"
  "$(dirname "$0")/../../shared/tools/make_real_corpus.py" "$collection" 50000 > /dev/null
fi

last=$(mktemp /tmp/orvalis-bench-XXXXXX)
trap 'rm -f "$last"' EXIT
# Seconds of one scan; its whole line (seconds, tracks, problems, events)
# stays in $last. An empty READERS: the program's default.
scan_once() {
  "$scan" "$collection" $1 > "$last"
  cut -d' ' -f1 "$last"
}
tracks() { cut -d' ' -f2 "$last"; }
problems() { cut -d' ' -f3 "$last"; }

# Seconds for 32 threads to read the first 8 KB of every audio file, the
# walk included (the same walk the scan makes).
heads_once() {
  python3 - "$collection" <<'PY'
import os, sys, time
from concurrent.futures import ThreadPoolExecutor
root = sys.argv[1]
kinds = (".mp3", ".flac", ".ogg", ".m4a", ".wma")
start = time.monotonic()
def files():
    for folder, _, names in os.walk(root):
        for name in names:
            if name.lower().endswith(kinds):
                yield os.path.join(folder, name)
def head(path):
    fd = os.open(path, os.O_RDONLY)
    try:
        return len(os.read(fd, 8192))
    finally:
        os.close(fd)
with ThreadPoolExecutor(32) as pool:
    sum(pool.map(head, files(), chunksize=16))
print("%.3f" % (time.monotonic() - start))
PY
}

drop_cache() { sync && echo 3 > /proc/sys/vm/drop_caches; }

label_new="scan, ${readers:-default} readers"

if drop_cache 2> /dev/null; then
  declare -a c_one c_new c_heads
  for ((i = 0; i < runs; ++i)); do
    drop_cache; c_heads+=("$(heads_once)")
    drop_cache; c_new+=("$(scan_once "$readers")")
    drop_cache; c_one+=("$(scan_once 1)")
  done
  m_heads=$(median "${c_heads[@]}")
  m_new=$(median "${c_new[@]}")
  m_one=$(median "${c_one[@]}")
  echo "cold cache, $collection: $(tracks) tracks, $(problems) named as unreadable, $runs runs"
  echo "  32 readers of 8 KB:      $m_heads s (runs: ${c_heads[*]})"
  echo "  $label_new:   $m_new s (runs: ${c_new[*]})"
  echo "  scan, 1 reader:          $m_one s (runs: ${c_one[*]})"
  echo "  ratio scan / 32 readers: $(echo "scale=2; $m_new / $m_heads" | bc) (target <= 1.5)"
  echo "  ratio 1 reader / scan:   $(echo "scale=2; $m_one / $m_new" | bc)"
else
  echo "cold cache: skipped, the page cache cannot be dropped here (needs root)"
fi

declare -a w_one w_new
scan_once 1 > /dev/null  # warm the cache
for ((i = 0; i < runs + 2; ++i)); do
  w_one+=("$(scan_once 1)")
  w_new+=("$(scan_once "$readers")")
done
m_one=$(median "${w_one[@]}")
m_new=$(median "${w_new[@]}")
echo "warm cache, $(tracks) tracks, $((runs + 2)) runs"
echo "  scan, 1 reader:          $m_one s (runs: ${w_one[*]})"
echo "  $label_new:   $m_new s (runs: ${w_new[*]})"
echo "  ratio scan / 1 reader:   $(echo "scale=2; $m_new / $m_one" | bc) (target <= 1.0)"
