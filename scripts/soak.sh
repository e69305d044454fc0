#!/usr/bin/env bash
# Runs the real show, unchanged, through the end of its music and on for a
# while at 60 frames per second, and checks that it stays as it was: resident
# memory flat within 1 MB after the first minute past the end, no drift in frame
# time, the picture frozen (the row clock stops with the music, the last state
# keeps being drawn), no GL error, and Escape still ends it with status 0.
#
# Usage: scripts/soak.sh [minutes past the end, default 30] [screen WxH, default 320x180]
#
# Run by hand (it takes the music's 190 s plus the minutes asked for), after a
# build with tests (it needs build/velmo and the frame probe). It starts its own
# virtual X server at the given size; the show runs full screen in it with
# SDL's dummy audio driver, which consumes the music in real time. The frame
# probe (tests/e2e/frame_probe.c, preloaded) paces the swaps to 60 Hz as a
# display would and reports frames, frame times, GL errors and the bytes the
# audio device took. Every 10 s a line goes to build/soak/samples.csv; the
# screenshots of the frozen picture go to build/soak/frozen_*.png.
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${1:-30}
size=${2:-320x180}
build_dir=${VELMO_BUILD_DIR:-build}
out=$build_dir/soak
probe=$build_dir/tests/e2e/libframe_probe.so

if [ -z "${VELMO_SOAK_DISPLAY:-}" ]; then
  cmake --build "$build_dir" --target velmo frame_probe >/dev/null
  rm -rf "$out"
  mkdir -p "$out"
  exec env VELMO_SOAK_DISPLAY=1 xvfb-run -a -s "-screen 0 ${size}x24 -noreset" "$0" "$@"
fi

music_end_bytes=67032000  # 190.0 s of float stereo at 44,100 Hz: where the playback position stops
sample_every=10

export SDL_AUDIODRIVER=dummy VELMO_PROBE_PACE_HZ=60
LD_PRELOAD=$PWD/$probe "$build_dir/velmo" >"$out/show.log" 2>&1 &
pid=$!

source tests/e2e/x_helpers.sh
dialog=$(wait_window "we like velmos" 30) || { echo "soak: no setup dialog"; kill $pid; exit 1; }
press "$dialog" Return  # full screen at the screen's size
show=$(wait_window "velmo velmo velmo" 30) || { echo "soak: no show window"; kill $pid; exit 1; }

# The probe's latest report, as fields "frames work_mean work_max interval_mean interval_max audio_bytes gl_errors".
probe_fields() {
  grep 'frame-probe: t=' "$out/show.log" | tail -1 |
    sed -E 's/.* frames=([0-9]+) .*gl_errors=([0-9]+) .*work_ms=([0-9.]+)\/([0-9.]+) interval_ms=([0-9.]+)\/([0-9.]+) audio_bytes=([0-9]+).*/\1 \3 \4 \5 \6 \7 \2/'
}

echo "t_s,rss_kb,fps,work_mean_ms,work_max_ms,interval_mean_ms,interval_max_ms,audio_bytes,gl_errors,load1" >"$out/samples.csv"
start=$(date +%s)
end_t=""
shots=()
next_shot=""
echo "soak: show running (pid $pid), ${minutes} minutes past the end of the music, ${size}"
while kill -0 $pid 2>/dev/null; do
  sleep $sample_every
  t=$(($(date +%s) - start))
  rss=$(awk '/^VmRSS:/ {print $2}' /proc/$pid/status 2>/dev/null) || break
  read -r fps wmean wmax imean imax audio errors <<<"$(probe_fields)" || true
  audio=${audio:-0}
  load=$(cut -d' ' -f1 /proc/loadavg)
  echo "$t,$rss,$fps,$wmean,$wmax,$imean,$imax,$audio,$errors,$load" >>"$out/samples.csv"
  if [ -z "$end_t" ] && [ "$audio" -ge $music_end_bytes ]; then
    end_t=$t
    next_shot=$((end_t + 60))
    echo "soak: the music ended at t=${t}s"
  fi
  if [ -n "$next_shot" ] && [ "$t" -ge "$next_shot" ]; then
    shot=$out/frozen_$(((t - end_t) / 60))min.png
    import -window root "$shot"
    shots+=("$shot")
    next_shot=$((next_shot + 600))
  fi
  if [ -n "$end_t" ] && [ $((t - end_t)) -ge $((minutes * 60)) ]; then break; fi
done

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
if ! kill -0 $pid 2>/dev/null; then
  wait $pid; fail "the show ended by itself with status $?"
else
  import -window root "$out/frozen_end.png"
  shots+=("$out/frozen_end.png")
  press "$show" Escape
  status=timeout
  for _ in $(seq 300); do
    if ! kill -0 $pid 2>/dev/null; then wait $pid && status=0 || status=$?; break; fi
    sleep 0.1
  done
  [ "$status" = 0 ] || fail "Escape: exit status $status"
fi
[ -n "$end_t" ] || { fail "the music never ended"; exit 1; }

# Past the first minute after the end: memory, frame time in the first and the
# last five minutes, and the load of the machine meanwhile.
awk -F, -v from=$((end_t + 60)) -v last_from=$((end_t + minutes * 60 - 300)) '
  NR > 1 && $1 >= from {
    n++; if (n == 1 || $2 < rmin) rmin = $2; if (n == 1 || $2 > rmax) rmax = $2
    if ($1 < from + 300) { a++; wa += $4; fa += $3 }
    if ($1 >= last_from) { b++; wb += $4; fb += $3 }
    if ($5 > wworst) wworst = $5
    load += $10; errors = $9
  }
  END {
    printf "rss_min_kb=%d rss_max_kb=%d rss_spread_kb=%d\n", rmin, rmax, rmax - rmin
    printf "first5_work_ms=%.2f last5_work_ms=%.2f first5_fps=%.1f last5_fps=%.1f worst_frame_ms=%.1f\n", wa / a, wb / b, fa / a, fb / b, wworst
    printf "mean_load1=%.2f gl_errors=%d samples=%d\n", load / n, errors, n
  }' "$out/samples.csv" | tee "$out/summary.txt"
read -r rss_spread <<<"$(sed -nE 's/.*rss_spread_kb=([0-9]+).*/\1/p' "$out/summary.txt")"
[ "$rss_spread" -le 1024 ] || fail "resident memory moved by ${rss_spread} kB after the first minute"
read -r w1 w2 <<<"$(sed -nE 's/.*first5_work_ms=([0-9.]+) last5_work_ms=([0-9.]+).*/\1 \2/p' "$out/summary.txt")"
# Drift: the last five minutes' mean frame work above the first five's by more
# than a quarter (and 1 ms, which the machine's other load alone can make).
awk -v a="$w1" -v b="$w2" 'BEGIN { exit !(b > a * 1.25 && b > a + 1.0) }' && fail "frame time drifted from ${w1} ms to ${w2} ms"
grep -q 'gl_errors=[1-9]' "$out/show.log" && fail "GL errors: $(grep -m3 'frame-probe: GL' "$out/show.log")"
for shot in "${shots[@]:1}"; do
  diff=$(compare -metric AE "${shots[0]}" "$shot" null: 2>&1) || true
  echo "pixels differing from $(basename "${shots[0]}"): $(basename "$shot") $diff" | tee -a "$out/summary.txt"
  [ "$diff" = 0 ] || fail "the picture changed: $(basename "$shot") differs in $diff pixels"
done
if [ $failures -eq 0 ]; then echo "soak: all checks passed"; exit 0; fi
echo "soak: $failures check(s) failed"
exit 1
