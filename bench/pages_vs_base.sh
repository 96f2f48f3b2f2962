#!/usr/bin/env bash
# The whole build of one collection by two programs, side by side: BASE (e.g.
# the main branch) and NEW (this tree), RUNS times each, alternating, as a
# compiled file and as web pages. Prints every wall time, the medians and
# NEW/BASE ratios.
#   bench/pages_vs_base.sh BASE_BUILD_DIR NEW_BUILD_DIR COLLECTION [RUNS]
# BASE_BUILD_DIR, e.g.:
#   git worktree add --detach /tmp/base main
#   cmake -S /tmp/base -B /tmp/base/build -G Ninja -DBUILD_TESTING=OFF -DORVALIS_BUILD_GUI=OFF
#   cmake --build /tmp/base/build -j2 --target orvalis orvalis_data
set -euo pipefail
. "$(dirname "$0")/bench_lib.sh"
base=$(cd "$1" && pwd)
bench_setup "$2" "$3" "${4:-5}"
bench_copy "$base" "$work/base"
runtime=$work/run
mkdir -p "$runtime"
chmod 700 "$runtime"
one() {
  local exe=$1 start end
  shift
  start=$(date +%s.%N)
  HOME=$work XDG_RUNTIME_DIR=$runtime LC_ALL=C.UTF-8 "$exe" build --force "$@" "$collection" \
    > /dev/null 2> "$work/err.txt" || { cat "$work/err.txt" >&2; exit 1; }
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
bchm=() nchm=() bsite=() nsite=()
for ((i = 0; i < runs; ++i)); do
  # Which program goes first turns each round.
  if ((i % 2 == 0)); then
    bchm+=("$(one "$work/base/orvalis" --out "$work/base.chm")")
    nchm+=("$(one "$work/bin/orvalis" --out "$work/new.chm")")
    bsite+=("$(one "$work/base/orvalis" --html "$work/base-site")")
    nsite+=("$(one "$work/bin/orvalis" --html "$work/new-site")")
  else
    nchm+=("$(one "$work/bin/orvalis" --out "$work/new.chm")")
    bchm+=("$(one "$work/base/orvalis" --out "$work/base.chm")")
    nsite+=("$(one "$work/bin/orvalis" --html "$work/new-site")")
    bsite+=("$(one "$work/base/orvalis" --html "$work/base-site")")
  fi
done
ratio() { echo "scale=3; $1 / $2" | bc; }
echo "chm  base runs: ${bchm[*]}"
echo "chm  new  runs: ${nchm[*]}"
echo "site base runs: ${bsite[*]}"
echo "site new  runs: ${nsite[*]}"
mb=$(median "${bchm[@]}") mn=$(median "${nchm[@]}") sb=$(median "${bsite[@]}") sn=$(median "${nsite[@]}")
echo "chm  median: base $mb s, new $mn s, new/base $(ratio "$mn" "$mb")"
echo "site median: base $sb s, new $sn s, new/base $(ratio "$sn" "$sb")"
echo "sizes: base.chm $(du -sh "$work/base.chm" | cut -f1), new.chm $(du -sh "$work/new.chm" | cut -f1)"
