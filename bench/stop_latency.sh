#!/usr/bin/env bash
# How long a run takes to end after SIGTERM arrives while the album covers
# are being found, on one folder of many small tracks (several albums each).
# Compares two builds side by side; prints each one's median.
#   bench/stop_latency.sh OLD_BUILD_DIR NEW_BUILD_DIR [TRACKS] [RUNS]
set -euo pipefail
old=$(cd "$1" && pwd)
new=$(cd "$2" && pwd)
tracks=${3:-25000}
runs=${4:-3}
work=$(mktemp -d /tmp/orvalis-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
. "$(dirname "$0")/bench_lib.sh"

# Tracks of five per album, all in one folder: ID3v2 with artist, album and
# title, then a few MPEG-1 layer III frames.
python3 - "$work/music" "$tracks" <<'PY'
import os, sys
folder, n = sys.argv[1], int(sys.argv[2])
os.makedirs(folder)
def frame(fid, text):
    data = b"\x03" + text.encode()
    return fid + len(data).to_bytes(4, "big") + b"\0\0" + data
def syncsafe(v):
    return bytes([(v >> 21) & 127, (v >> 14) & 127, (v >> 7) & 127, v & 127])
mpeg = (b"\xff\xfb\x90\x64" + b"\0" * 413) * 4
for i in range(n):
    body = frame(b"TPE1", "Artist %d" % (i // 50)) + frame(b"TALB", "Album %d" % (i // 5)) + frame(b"TIT2", "Track %d" % i)
    with open(os.path.join(folder, "t%06d.mp3" % i), "wb") as f:
        f.write(b"ID3\x03\x00\x00" + syncsafe(len(body)) + body + mpeg)
PY

for side in old new; do
  mkdir -p "$work/$side/bin" "$work/$side/run"
  dir=$old; [ "$side" = new ] && dir=$new
  bench_copy "$dir" "$work/$side/bin"
done

# Seconds from SIGTERM (sent when the scan reports its count) to the exit.
one() {
  local side=$1 err=$work/$1.err pid sent end
  : > "$err"
  HOME=$work XDG_RUNTIME_DIR=$work/$side/run LC_ALL=C.UTF-8 \
    "$work/$side/bin/orvalis" build --force --out "$work/$side.chm" "$work/music" > /dev/null 2> "$err" &
  pid=$!
  until grep -q "^Found" "$err" 2>/dev/null || ! kill -0 "$pid" 2>/dev/null; do sleep 0.01; done
  sent=$(date +%s.%N)
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" || true
  end=$(date +%s.%N)
  echo "$end - $sent" | bc
}
declare -a t_old t_new
for ((i = 0; i < runs; ++i)); do
  t_old+=("$(one old)")
  t_new+=("$(one new)")
done
echo "tracks: $tracks in one folder, $((tracks / 5)) albums"
echo "old: stop after $(median "${t_old[@]}") s (runs: ${t_old[*]})"
echo "new: stop after $(median "${t_new[@]}") s (runs: ${t_new[*]})"
