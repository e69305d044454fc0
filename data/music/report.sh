#!/usr/bin/env bash
# Listening report of the built music: by the score's sections, short-term
# loudness, band shares and side/mid; each moment against the beats before it;
# integrated loudness, range and true peak (velmo_music_report on the decoded
# MP3, with ffmpeg's EBU R128 meter beside it); sample statistics; pictures of
# the spectrogram, the waveform and the loudness by section.
# usage: data/music/report.sh [build dir] [picture dir]
set -euo pipefail
build=${1:-build}
pictures=${2:-$build/data/music}
mp3=$build/data/music/music.mp3
wav=$build/data/music/music.wav
score=$(dirname "$0")/score.txt
tool=$build/tools/compose/velmo_music_report
for f in "$mp3" "$wav" "$tool"; do [ -f "$f" ] || { echo "report: $f is missing; build velmo_music_embedded and velmo_music_report first" >&2; exit 1; }; done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ffmpeg -nostats -hide_banner -loglevel error -i "$mp3" -f f32le -ac 2 -ar 44100 "$work/music.f32"
echo "== figures of $mp3 (decoded)"
"$tool" "$score" "$work/music.f32" "$work/plot"
echo "== ffmpeg's meter"
ffmpeg -nostats -hide_banner -i "$mp3" -filter_complex ebur128=peak=true -f null - 2>&1 |
  grep -v 'TARGET:' | grep -E '^ +(I|LRA|Peak):' | tail -n 3
echo "== sample statistics (decoded)"
ffmpeg -nostats -hide_banner -i "$mp3" -af astats=measure_perchannel=none -f null - 2>&1 |
  grep -A21 'Overall' | grep -E 'DC offset|Peak level dB|RMS level dB|Flat factor|Peak count' | sed 's/^\[[^]]*\] //'
echo "== length"
ffprobe -v error -show_entries format=duration -of default=nw=1 "$mp3"
sox "$wav" -n spectrogram -x 1900 -y 513 -z 90 -t velmo -o "$pictures/music-spectrogram.png"
ffmpeg -y -loglevel error -i "$wav" -filter_complex "showwavespic=s=1900x400:split_channels=1" -frames:v 1 "$pictures/music-waveform.png"
if command -v gnuplot >/dev/null; then
  gnuplot <<GP
set terminal pngcairo size 1900,600 font "DejaVu Sans,11"
set output "$pictures/music-loudness.png"
set title "short-term (3 s) and momentary (0.4 s) loudness; bars: each section's median"
set xlabel "seconds"; set ylabel "LUFS"; set yrange [-40:-5]; set xrange [0:192]; set grid ytics
set key bottom right
plot "$work/plot-loudness.dat" using 1:3 with lines lc rgb "#b0b0b0" title "momentary", \
     "$work/plot-loudness.dat" using 1:2 with lines lw 2 lc rgb "#1060c0" title "short-term", \
     "$work/plot-sections.dat" using 1:3:(\$2-\$1):(0) with vectors nohead lw 4 lc rgb "#d04010" title "section median", \
     "$work/plot-sections.dat" using 1:(-8):4 with labels left rotate by 30 font ",10" notitle
GP
fi
echo "== pictures: $pictures/music-spectrogram.png $pictures/music-waveform.png $pictures/music-loudness.png"
