#!/bin/sh
# Whole builds of one collection by two builds of the program, side by side:
# bench/build_before_after.sh OLD_BUILD_DIR NEW_BUILD_DIR COLLECTION [RUNS]
# Both a compiled file and a web folder, warm cache, runs alternating so the
# machine's load falls on both alike; prints the medians and new/old.
set -eu
. "$(dirname "$0")/bench_lib.sh"
old=$(cd "$1" && pwd)
bench_setup "$2" "$3" "${4:-5}"
bench_copy "$old" "$work/old"
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" LC_ALL=C.UTF-8
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

seconds() {  # program, output option, target
  start=$(date +%s.%N)
  "$1" build --force "$2" "$3" "$collection" >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}

"$work/bin/orvalis" build --force --out "$work/warm.chm" "$collection" >/dev/null 2>&1  # warms the cache
for kind in --out --html; do
  olds=; news=
  target="$work/out.chm"; [ "$kind" = --html ] && target="$work/site"
  i=0
  while [ $i -lt "$runs" ]; do
    olds="$olds $(seconds "$work/old/orvalis" "$kind" "$target")"
    news="$news $(seconds "$work/bin/orvalis" "$kind" "$target")"
    i=$((i + 1))
  done
  mo=$(median $olds); mn=$(median $news)
  printf '%s  old %s s  new %s s  new/old %.3f   (old:%s; new:%s)\n' "$kind" "$mo" "$mn" "$(echo "$mn / $mo" | bc -l)" "$olds" "$news"
done
