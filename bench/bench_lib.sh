# Shared by the shell benchmarks (sourced): the arguments BUILD_DIR COLLECTION
# [RUNS], a scratch folder with a copy of the program in $work/bin, removed on
# exit, and medians.
bench_setup() {
  build=$(cd "$1" && pwd)
  collection=$2
  runs=${3:-3}
  work=$(mktemp -d /tmp/orvalis-bench-XXXXXX)
  trap 'rm -rf "$work"' EXIT
  bench_copy "$build" "$work/bin"
}

# bench_copy BUILD_DIR FOLDER: the program with the data it reads beside it.
bench_copy() {
  mkdir -p "$2"
  for f in orvalis data steps.txt fnametemplates.txt default.lng; do cp -r "$1/$f" "$2/"; done
}

median() { printf '%s\n' "$@" | sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
