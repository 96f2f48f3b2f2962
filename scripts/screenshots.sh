#!/usr/bin/env bash
# Screenshots of the wizard and of a catalogue it made, in one language, under Xvfb.
#   scripts/screenshots.sh PROGRAM OUTDIR [LOCALE]     (default locale de_DE.UTF-8)
# Needs xvfb, xdotool, imagemagick and kchmviewer. Every file it makes stays below
# a temporary folder, apart from the PNGs in OUTDIR.
set -euo pipefail
built=$(realpath "$1")
outdir=$(realpath -m "$2")
locale=${3:-de_DE.UTF-8}
music=$(realpath "$(dirname "$0")/../examples/music")
mkdir -p "$outdir"
work=$(mktemp -d /tmp/orvalis-shots-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home" "$work/bin" "$work/run" "$work/out" "$work/music"
chmod 700 "$work/run"
# A copy of the program keeps its configuration (beside it) out of the build folder.
for f in "$built" "$(dirname "$built")"/{data,steps.txt,fnametemplates.txt} "$(dirname "$built")"/*.lng; do
  cp "$f" "$work/bin/"
done
program=$work/bin/$(basename "$built")
# A collection large enough for the progress page to stay on screen a moment.
for i in $(seq -w 1 100); do cp -r "$music" "$work/music/disc-$i"; done

# The music folder ticked, the catalogue to a file of our own, not opened.
cat > "$work/bin/$(basename "$built").conf.xml" <<XML
<?xml version="1.0" encoding="Windows-1252" ?>
<XMLConfig><info>orvalis config file</info>
<group name="Last">
 <param name="TreeSelection">$work/music</param>
</group>
<group name="Session">
 <param name="PlaceTo">0</param>
 <param name="DBFilename">$work/out/katalog.chm</param>
 <param name="OpenAfterCompil">0</param>
</group>
</XMLConfig>
XML

cat > "$work/session.sh" <<'SESSION'
set -euo pipefail
shot() { sleep 1; import -window root "$outdir/$1"; }
# The Next button sits at (374, 345) of the 538 x 370 wizard, wherever it placed itself.
next_button() { xdotool mousemove $((X + 374)) $((Y + 345)) click 1; }
"$program" & wizard=$!
sleep 4
eval "$(xdotool search --sync --onlyvisible --pid "$wizard" | head -1 | xargs xdotool getwindowgeometry --shell)"
shot wizard-1-folders.png
next_button; shot wizard-2-output.png
next_button                 # Start: the catalogue is built, the wizard returns to page 1
sleep 1.5; import -window root "$outdir/wizard-3-progress.png"
for _ in $(seq 60); do [ -f "$work/out/katalog.chm" ] && break; sleep 1; done
shot wizard-4-done.png
kill "$wizard" 2>/dev/null || true
wait "$wizard" 2>/dev/null || true
kchmviewer -novcheck "$work/out/katalog.chm" & viewer=$!
sleep 5; shot catalogue-main.png
kill "$viewer"; wait "$viewer" 2>/dev/null || true
kchmviewer -novcheck -showPage artists.htm "$work/out/katalog.chm" & viewer=$!
sleep 5; shot catalogue-artists.png
kill "$viewer"; wait "$viewer" 2>/dev/null || true
SESSION

env -u LC_ALL -u LC_MESSAGES LANG="$locale" HOME="$work/home" \
    XDG_RUNTIME_DIR="$work/run" program="$program" outdir="$outdir" work="$work" \
    xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/session.sh"
ls "$outdir"
