#!/usr/bin/env bash
# Makes the small sample collection in examples/music/ from generated tones.
# Needs Debian's ffmpeg, lame, flac and vorbis-tools (for making the samples
# only; the program itself never needs them). Every file stays below 50 KB.
set -euo pipefail
cd "$(dirname "$0")"
OUT=music
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
rm -rf "$OUT"
mkdir -p "$OUT"

# A mono tone of the given frequency and length as 16-bit WAV.
tone() { # freq seconds rate file
  ffmpeg -v error -y -f lavfi -i "sine=frequency=$1:duration=$2:sample_rate=$3" \
    -ac 1 -c:a pcm_s16le -fflags +bitexact "$4"
}
stereo_tone() { # freq seconds rate file
  ffmpeg -v error -y -f lavfi -i "sine=frequency=$1:duration=$2:sample_rate=$3" \
    -filter_complex "[0:a]asplit[l][r];[l][r]amerge=inputs=2" -c:a pcm_s16le -fflags +bitexact "$4"
}

# --- MP3 -------------------------------------------------------------------
# Constant bit rate, ID3v2.3 (ISO-8859-1) plus ID3v1.
tone 440 4 22050 "$TMP/a.wav"
lame --quiet -b 32 --add-id3v2 --id3v2-latin1 \
  --ta "Aurora Quartet" --tt "Morning Light" --tl "First Light" --ty 2001 \
  --tn 1/3 --tg Jazz --tc "Recorded at dawn" \
  "$TMP/a.wav" "$OUT/Aurora Quartet - Morning Light.mp3"

# Variable bit rate (Xing header), ID3v2.3 in UTF-16 with a CJK name.
stereo_tone 523 3 32000 "$TMP/b.wav"
lame --quiet -V 9 -m j --id3v2-only --id3v2-utf16 \
  --ta "坂本 遥" --tt "夏の海" --tl "季節" --ty 2015 --tn 7 --tg JPop \
  "$TMP/b.wav" "$OUT/坂本 遥 - 夏の海.mp3"

# ID3v2.4 in UTF-8 with accented letters, written by ffmpeg.
tone 330 4 22050 "$TMP/c.wav"
ffmpeg -v error -y -i "$TMP/c.wav" -c:a libmp3lame -b:a 32k -id3v2_version 4 -write_id3v1 0 \
  -metadata artist="Émilie Duval" -metadata title="Chanson d'été" -metadata album="Été à Paris" \
  -metadata date=1998 -metadata track=2 -metadata genre=Chanson \
  -fflags +bitexact "$OUT/Émilie Duval - Chanson d'été.mp3"

# Markup characters in the tags and the file name.
tone 392 3 22050 "$TMP/d.wav"
lame --quiet -b 32 --add-id3v2 --id3v2-latin1 \
  --ta "Salt & Pepper <Live>" --tt "Rock & Roll <Demo>" --tl "Greatest \"Hits\"" --ty 1987 \
  --tn 5 --tg "Rock & Roll" --tc "a < b & c > d" \
  "$TMP/d.wav" "$OUT/Salt & Pepper <Live> - Rock & Roll <Demo>.mp3"

# ID3v1.1 only.
tone 294 3 22050 "$TMP/e.wav"
lame --quiet -b 32 --id3v1-only \
  --ta "Old Timer" --tt "Dusty Road" --tl "Classics" --ty 1975 --tn 9 --tg Country \
  "$TMP/e.wav" "$OUT/Old Timer - Dusty Road.mp3"

# No tags at all: artist and title come from the file name.
tone 262 3 22050 "$TMP/f.wav"
lame --quiet -b 32 "$TMP/f.wav" "$OUT/Nobody Special - Lost_Song.mp3"

# --- FLAC ------------------------------------------------------------------
tone 220 2 8000 "$TMP/g.wav"
flac --silent -8 -f -o "$OUT/Nordlys - Fjord.flac" \
  -T "ARTIST=Nordlys" -T "TITLE=Fjord" -T "ALBUM=Arktis" -T "DATE=2010" \
  -T "GENRE=Ambient" -T "TRACKNUMBER=3" -T "COMMENT=Northern lights" "$TMP/g.wav"

tone 247 2 8000 "$TMP/h.wav"
flac --silent -8 -f -o "$OUT/Ñandú Orquesta - Canción Número Uno.flac" \
  -T "ARTIST=Ñandú Orquesta" -T "TITLE=Canción Número Uno" -T "ALBUM=Pampa" -T "DATE=2005" \
  -T "GENRE=Latin" -T "TRACK=1" "$TMP/h.wav"

# --- Ogg Vorbis ------------------------------------------------------------
tone 349 4 22050 "$TMP/i.wav"
oggenc --quiet -q 0 -a "Aurora Quartet" -t "Evening Tide" -l "First Light" -d 2001 \
  -N 2 -G Jazz -c "COMMENT=Recorded at dusk" -o "$OUT/Aurora Quartet - Evening Tide.ogg" "$TMP/i.wav"

tone 415 4 22050 "$TMP/j.wav"
oggenc --quiet -q 0 -a "Ølstue Band" -t "Smørrebrød" -l "Nordisk" -d 2012-06-21 \
  -N 4/10 -G Folk -o "$OUT/Ølstue Band - Smørrebrød.ogg" "$TMP/j.wav"

# --- WMA -------------------------------------------------------------------
# The year and description under the names Windows Media Player writes;
# ffmpeg's own "date" and "comment" names are not Windows Media attributes.
tone 370 4 22050 "$TMP/k.wav"
ffmpeg -v error -y -i "$TMP/k.wav" -c:a wmav2 -b:a 32k \
  -metadata artist="Grey Skies" -metadata title="Rainfall" -metadata album="Weather Report" \
  -metadata WM/Year=2003 -metadata track=4 -metadata genre=Electronic -metadata WM/Description="Light drizzle" \
  -fflags +bitexact "$OUT/Grey Skies - Rainfall.wma"

tone 466 4 22050 "$TMP/l.wav"
ffmpeg -v error -y -i "$TMP/l.wav" -c:a wmav2 -b:a 32k \
  -metadata artist="Zoë Marchetti" -metadata title="Pioggia d'autunno" -metadata album="Tempo" \
  -metadata WM/Year=2008 -metadata track=6 -metadata genre=Classical \
  -fflags +bitexact "$OUT/Zoë Marchetti - Pioggia d'autunno.wma"

# --- M4A -------------------------------------------------------------------
# AAC, the movie atom after the media data (ffmpeg's default).
tone 587 4 22050 "$TMP/m.wav"
ffmpeg -v error -y -i "$TMP/m.wav" -c:a aac -b:a 32k \
  -metadata artist="Aurora Quartet" -metadata title="Midnight Blue" -metadata album="First Light" \
  -metadata date=2001 -metadata track=3/3 -metadata genre=Jazz -metadata comment="Late set" \
  -fflags +bitexact "$OUT/Aurora Quartet - Midnight Blue.m4a"

# Apple Lossless, the movie atom first.
tone 659 1 8000 "$TMP/n.wav"
ffmpeg -v error -y -i "$TMP/n.wav" -c:a alac -movflags +faststart \
  -metadata artist="Kōji Tanaka" -metadata title="Lossless Dream" -metadata album="Clear Water" \
  -metadata date=2020 -metadata track=1 -metadata genre=Electronic \
  -fflags +bitexact "$OUT/Kōji Tanaka - Lossless Dream.m4a"

for f in "$OUT"/*; do
  size=$(stat -c %s "$f")
  if [ "$size" -gt 51200 ]; then echo "too large: $f ($size bytes)" >&2; exit 1; fi
done
ls -l "$OUT"
