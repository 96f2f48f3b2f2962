#!/bin/bash
# Reading a whole collection with two builds of bench_read_formats, side by
# side: the runs alternate, each pair in turned order (the one that runs
# second was seen to gain), so both see the same load; each run times three
# rounds after a warm-up and gives their median; the medians of all runs and
# their ratio are printed.
#
#   bench/read_formats_vs.sh NEW_BENCH OLD_BENCH FOLDER [RUNS]
#
# OLD_BENCH is the same source built against another tree, for example the
# commit before the format registry:
#   git archive 18aeeb8 | tar -x -C /tmp/old && cp bench/read_formats.cpp /tmp/old/bench/
#   cmake -S /tmp/old -B /tmp/old/build -G Ninja -DORVALIS_BUILD_GUI=OFF && cmake --build /tmp/old/build --target bench_read_formats
set -euo pipefail
new=$1 old=$2 folder=$3 runs=${4:-5}
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
seconds() { "$1" "$folder" 3 | sed -n 's/.*, \([0-9.]*\) s,.*/\1/p' | median; }
: > /tmp/read_formats_new.$$; : > /tmp/read_formats_old.$$
for ((i = 0; i < runs; i++)); do
  if ((i % 2 == 0)); then
    seconds "$new" >> /tmp/read_formats_new.$$
    seconds "$old" >> /tmp/read_formats_old.$$
  else
    seconds "$old" >> /tmp/read_formats_old.$$
    seconds "$new" >> /tmp/read_formats_new.$$
  fi
done
n=$(median < /tmp/read_formats_new.$$); o=$(median < /tmp/read_formats_old.$$)
rm -f /tmp/read_formats_new.$$ /tmp/read_formats_old.$$
"$new" "$folder" 1 | sed 's/^round 1/new/'
"$old" "$folder" 1 | sed 's/^round 1/old/'
echo "median over $runs runs: new $n s, old $o s, new/old $(awk -v n="$n" -v o="$o" 'BEGIN {printf "%.3f", n / o}')"
