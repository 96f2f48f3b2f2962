#!/usr/bin/env bash
# Runs every fuzz target in turn for SECONDS each, one at a time and niced, on
# a working copy of its seeds (fuzz/corpus/<target>, plus the shared peer
# audio files for the audio targets when ../shared/peer-audio exists).
#   fuzz/run.sh BUILD_DIR SECONDS [TARGET...]
# Findings land in BUILD_DIR/fuzz/findings/; the exit status is non-zero
# when any target found something.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${1:?build folder}
SECONDS_EACH=${2:?seconds per target}
shift 2
BIN=$BUILD_DIR/fuzz
WORK=$BUILD_DIR/fuzz/work
FINDINGS=$BUILD_DIR/fuzz/findings
PEER=../shared/peer-audio
mkdir -p "$WORK" "$FINDINGS"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in fuzz/fuzz_*.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi

# Peer audio files of the given extensions, small ones only.
peer_files() {
  [ -d "$PEER" ] || return 0
  local args=() e
  for e in "$@"; do args+=(-o -iname "*.$e"); done
  find "$PEER" -type f -size -64k \( "${args[@]:1}" \)
}

seed() {
  local name=$1 dir=$2 f
  case $name in
    id3v1|id3v2|mpeg) peer_files mp3 id3 ;;
    flac) peer_files flac ;;
    ogg) peer_files ogg oga ;;
    wma) peer_files wma asf ;;
    m4a) peer_files m4a mp4 m4b ;;
    formats) peer_files opus spx oga aif aiff aifc wav wv ape mpc tta dsf apev2 m4b mp2 ;;
  esac | while read -r f; do cp "$f" "$dir/peer-$(basename "$f" | tr -c 'A-Za-z0-9.\n-' _)"; done
  if [ "$name" = audio_file ]; then
    # The first byte picks the extension the file is read under.
    local i=0 e
    for e in mp3 wma ogg flac m4a; do
      peer_files "$e" | while read -r f; do
        { printf "\\x0$i"; cat "$f"; } > "$dir/peer-$i-$(basename "$f" | tr -c 'A-Za-z0-9.\n-' _)"
      done
      i=$((i + 1))
    done
  fi
}

status=0
printf '%-22s %8s %12s %s\n' target seconds executions result > "$WORK/summary.txt"
for t in "${targets[@]}"; do
  dir=$WORK/$t
  rm -rf "$dir"
  mkdir -p "$dir"
  name=${t#fuzz_}
  [ -d "fuzz/corpus/$name" ] && cp fuzz/corpus/"$name"/* "$dir"/
  seed "$name" "$dir"
  log=$WORK/$t.log
  start=$(date +%s)
  rc=0
  nice -n 15 "$BIN/$t" "$dir" -max_total_time="$SECONDS_EACH" -max_len=65536 -timeout=25 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$FINDINGS/$t-" > "$log" 2>&1 || rc=$?
  took=$(( $(date +%s) - start ))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  result=ok
  if [ $rc -ne 0 ]; then
    result="FOUND (exit $rc, see $log)"
    status=1
  fi
  printf '%-22s %8s %12s %s\n' "$t" "$took" "${runs:-?}" "$result" | tee -a "$WORK/summary.txt"
done
echo "Summary: $WORK/summary.txt"
exit $status
