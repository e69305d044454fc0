#!/usr/bin/env bash
# Listening report of the built music: loudness and true peak (EBU R128), sample
# statistics, and pictures of the spectrogram and the waveform per channel.
# usage: data/music/report.sh [build dir] [picture dir]
set -euo pipefail
build=${1:-build}
pictures=${2:-$build/data/music}
mp3=$build/data/music/music.mp3
wav=$build/data/music/music.wav
for f in "$mp3" "$wav"; do [ -f "$f" ] || { echo "report: $f is missing; build velmo_music_embedded first" >&2; exit 1; }; done

echo "== loudness of $mp3"
ffmpeg -nostats -hide_banner -i "$mp3" -filter_complex ebur128=peak=true -f null - 2>&1 |
  grep -v 'TARGET:' | grep -E '^ +(I|LRA|Peak):' | tail -n 3
echo "== sample statistics of $mp3 (decoded)"
ffmpeg -nostats -hide_banner -i "$mp3" -af astats=measure_perchannel=none -f null - 2>&1 |
  grep -A21 'Overall' | grep -E 'DC offset|Min level|Max level|Peak level dB|RMS level dB|Flat factor|Peak count|Number of samples' | sed 's/^\[[^]]*\] //'
echo "== length"
ffprobe -v error -show_entries format=duration -of default=nw=1 "$mp3"
sox "$wav" -n spectrogram -x 1900 -y 513 -z 90 -t velmo -o "$pictures/music-spectrogram.png"
ffmpeg -y -loglevel error -i "$wav" -filter_complex "showwavespic=s=1900x400:split_channels=1" -frames:v 1 "$pictures/music-waveform.png"
echo "== pictures: $pictures/music-spectrogram.png $pictures/music-waveform.png"
