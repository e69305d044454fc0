#!/usr/bin/env bash
# The real executable under X, driven as a person would: the setup dialog, Enter
# and Escape, "Full screen" unchecked. Needs DISPLAY (the test command runs Xvfb).
# Then the faults the show must survive, watched by the frame probe
# (frame_probe.c, preloaded: frames, GL errors and the audio clock from inside
# the unchanged executable): no audio device, a 1 × 1, a minimised and a
# wildly resized window, a stopped process, and a model that fails to parse.
# Usage: show_e2e.sh <velmo> <output folder for screenshots> <close_window>
#        <frame probe> <resize_storm> <velmo_broken_model> <velmo-capture>
set -u
velmo=$1
out=$2
close_window=$3
frame_probe=$4
resize_storm=$5
velmo_broken_model=$6
velmo_capture=$7
mkdir -p "$out"
: "${DISPLAY:?show_e2e needs an X display (run under xvfb-run)}"
export SDL_AUDIODRIVER=dummy

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

source "$(dirname "$0")/x_helpers.sh"

# Waits up to $2 seconds for process $1 to end; sets status to its exit status.
# (Not in a subshell: only this shell can wait for its own children.)
wait_exit() {
  local pid=$1 limit=$2
  for _ in $(seq $((limit * 10))); do
    if ! kill -0 "$pid" 2>/dev/null; then wait "$pid"; status=$?; return 0; fi
    sleep 0.1
  done
  kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
  status=timeout
}

screen_size=$(xwininfo -root | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')

echo "== Escape in the dialog ends the program with status 0 and opens no show window"
"$velmo" >"$out/cancel.log" 2>&1 &
pid=$!
if dialog=$(wait_window "we like velmos" 20); then
  import -window root "$out/dialog.png" 2>/dev/null || true
  press "$dialog" Escape
  wait_exit $pid 10
  [ "$status" = 0 ] || fail "cancel: exit status $status"
  [ -n "$(find_window "velmo velmo velmo")" ] && fail "cancel: a show window appeared"
  # A missing icon loader or theme shows as GTK warnings (and boxes without check marks).
  grep -E 'Gtk-(WARNING|CRITICAL)' "$out/cancel.log" && fail "cancel: the dialog warned"
else
  fail "the setup dialog did not appear"; kill $pid 2>/dev/null
fi

client_size() { xwininfo -id "$1" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}'; }

# Starts the show through the dialog and checks its window, then ends it with
# Escape or the close box. Arguments: case name, expected client size, how to
# end it (escape or close), keys pressed in the dialog before Enter.
start_show() {
  local name=$1 expected_size=$2 ending=$3; shift 3
  "$velmo" >"$out/$name.log" 2>&1 &
  pid=$!
  if ! dialog=$(wait_window "we like velmos" 20); then
    fail "$name: the setup dialog did not appear"; kill $pid 2>/dev/null; return
  fi
  [ $# -gt 0 ] && press "$dialog" "$@"
  import -window root "$out/${name}_dialog.png" 2>/dev/null || true
  press "$dialog" Return
  if ! show=$(wait_window "velmo velmo velmo" 30); then
    fail "$name: no show window after Enter"; kill $pid 2>/dev/null; return
  fi
  sleep 1
  xprop -id "$show" WM_CLASS | grep -q '"VELMO", "VELMO"' || fail "$name: $(xprop -id "$show" WM_CLASS)"
  size=$(client_size "$show")
  [ "$size" = "$expected_size" ] || fail "$name: client area $size, expected $expected_size"
  import -window root "$out/${name}_show.png" 2>/dev/null || true
  if [ "$ending" = close ]; then "$close_window" "$show"; else press "$show" Escape; fi
  wait_exit $pid 30
  [ "$status" = 0 ] || fail "$name: exit status $status after $ending"
}

echo "== Enter starts the show full screen; Escape ends it with status 0"
start_show full_screen "$screen_size" escape

echo "== With \"Full screen\" unchecked the client area is exactly the chosen size"
# Focus starts on "velmo"; Tab runs through "no velmo" and the size list to
# "Full screen". The size list offers 1920x1080 by default where it is listed.
start_show windowed "${VELMO_EXPECT_SIZE:-1920x1080}" escape Tab Tab Tab space

echo "== The close box ends the show with status 0"
start_show close_box "$screen_size" close

echo "== The close box of the dialog cancels like Escape"
"$velmo" >"$out/dialog_close.log" 2>&1 &
pid=$!
if dialog=$(wait_window "we like velmos" 20); then
  "$close_window" "$dialog"
  wait_exit $pid 10
  [ "$status" = 0 ] || fail "dialog close box: exit status $status"
  [ -n "$(find_window "velmo velmo velmo")" ] && fail "dialog close box: a show window appeared"
else
  fail "dialog close box: the setup dialog did not appear"; kill $pid 2>/dev/null
fi

# ---- Faults, watched by the frame probe ----

# The value of field $2 in the probe's latest once-a-second report in log $1.
probe_field() { grep 'frame-probe: t=' "$1" | tail -1 | sed -nE "s/.* $2=([^ ]+).*/\1/p"; }

# Waits up to $2 seconds for the probe of case $1 to have counted $3 frames in all.
wait_total() {
  local total
  for _ in $(seq $(($2 * 10))); do
    total=$(probe_field "$out/$1.log" total)
    [ -n "$total" ] && [ "$total" -ge "$3" ] && return 0
    sleep 0.1
  done
  return 1
}

# Checks that frames of case $1 keep coming for $2 seconds (at least one a
# second) and that no GL error has been raised so far; $3 says when.
expect_frames() {
  local name=$1 secs=$2 log=$out/$1.log before after errors
  before=$(probe_field "$log" total)
  sleep "$secs"
  after=$(probe_field "$log" total)
  if [ -z "$after" ] || [ $((after - ${before:-0})) -lt "$secs" ]; then
    fail "$name${3:+ ($3)}: frames stopped (${before:-no} frames, then ${after:-no})"
  fi
  errors=$(probe_field "$log" gl_errors)
  [ "${errors:-0}" = 0 ] || fail "$name${3:+ ($3)}: $(grep -m3 'frame-probe: GL' "$log" | tr '\n' ' ')"
}

# Waits up to $2 seconds for the probe of case $1 to report a drawable of size $3.
wait_drawable() {
  for _ in $(seq $(($2 * 10))); do
    [ "$(probe_field "$out/$1.log" drawable)" = "$3" ] && return 0
    sleep 0.1
  done
  return 1
}

# Pixels that differ between two screenshots.
pixels_differing() { compare -metric AE "$1" "$2" null: 2>&1; }

# Starts program $2 for case $1 with the probe (further arguments: variables
# for its environment) through the dialog, windowed, and makes the window
# small so that software GL keeps frames coming. Sets pid and show; false
# (after a failure) when the show did not start or draws no frames.
start_probed() {
  local name=$1 program=$2; shift 2
  env "$@" LD_PRELOAD="$frame_probe" ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
    "$program" >"$out/$name.log" 2>&1 &
  pid=$!
  if ! dialog=$(wait_window "we like velmos" 20); then
    fail "$name: the setup dialog did not appear"; kill $pid 2>/dev/null; return 1
  fi
  press "$dialog" Tab Tab Tab space Return
  if ! show=$(wait_window "velmo velmo velmo" 30); then
    fail "$name: no show window after Enter"; kill $pid 2>/dev/null; return 1
  fi
  xdotool windowsize "$show" 480 270
  # The first frame ends with the load step; the probe reports a second after it.
  if ! wait_total "$name" 60 10; then
    fail "$name: no frames"; kill $pid 2>/dev/null; return 1
  fi
}

end_probed() {  # case name: Escape ends the show with status 0
  press "$show" Escape
  wait_exit $pid 30
  [ "$status" = 0 ] || fail "$1: exit status $status after Escape"
}

fault_start=$(date +%s)

echo "== Without an audio device: its line, the picture frozen at row 0, Escape ends with status 0"
# Row 0 as the capture tool draws it, at the size of the show's window, for comparison.
rm -rf "$out/row0"
"$velmo_capture" --format frames --from-row 0 --to-row 0.05 --size 480x270 --out "$out/row0" >"$out/row0.log" 2>&1 &
capture=$!
if start_probed no_audio "$velmo" SDL_AUDIODRIVER=no_such_driver; then
  expect_frames no_audio 2
  import -window "$show" "$out/no_audio_1.png"
  sleep 2
  import -window "$show" "$out/no_audio_2.png"
  diff=$(pixels_differing "$out/no_audio_1.png" "$out/no_audio_2.png")
  [ "$diff" = 0 ] || fail "no_audio: the picture moved ($diff pixels differ 2 s apart)"
  if wait $capture && row0=$(ls "$out"/row0/*.png | head -1) && [ -n "$row0" ]; then
    diff=$(compare -fuzz 2% -metric AE "$row0" "$out/no_audio_2.png" null: 2>&1)
    [ "$diff" -lt 130 ] 2>/dev/null || fail "no_audio: the picture is not row 0's ($diff of 129,600 pixels differ from $row0)"
  else
    fail "no_audio: the capture tool drew no row 0: $(tail -3 "$out/row0.log")"
  fi
  grep -qx 'Failed to open playback device.' "$out/no_audio.log" || fail "no_audio: no \"Failed to open playback device.\" line"
  grep -q 'decoding full mp3' "$out/no_audio.log" && fail "no_audio: the music was decoded without a device"
  [ "$(probe_field "$out/no_audio.log" audio)" = 0 ] || fail "no_audio: an audio device was opened"
  end_probed no_audio
fi

echo "== Stopped for 5 s and continued; a 1 x 1 window, a minimised one, 300 random sizes"
# The show goes on where it was and its clock does not jump; frames keep
# coming and no GL error is raised whatever the window does.
if start_probed faults "$velmo"; then
  log=$out/faults.log
  sleep 2
  import -window "$show" "$out/faults_stopped_before.png"
  kill -STOP $pid
  sleep 0.5
  [ "$(awk '{print $3}' /proc/$pid/stat)" = T ] || fail "faults: not stopped"
  sleep 4.5
  kill -CONT $pid
  expect_frames faults 3 "continued"
  import -window "$show" "$out/faults_stopped_after.png"
  [ "$(pixels_differing "$out/faults_stopped_before.png" "$out/faults_stopped_after.png")" = 0 ] && fail "faults: the picture stood still after SIGCONT"
  # The report that spans the stop (a frame interval of 5 s): the audio clock
  # moved on by less than 1.5 s across it, and by at least 1 s in the 3 s after.
  grep 'frame-probe: t=' "$log" | sed -E 's/.*interval_ms=[0-9.]+\/([0-9.]+) audio_bytes=([0-9]+).*/\1 \2/' | awk '
    { if (!across && $1 >= 4900) { across = $2 - previous; at = $2 } previous = $2 }
    END {
      if (!at) { print "faults: no frame interval of 5 s"; exit 1 }
      printf "audio clock: +%.2f s across the stop, +%.2f s after it\n", across / 352800, ($2 - at) / 352800
      exit !(across < 1.5 * 352800 && $2 - at >= 352800)
    }' || fail "faults: the clock did not go on sanely"
  xdotool windowsize "$show" 1 1
  wait_drawable faults 20 1x1 || fail "faults: drawable $(probe_field "$log" drawable) at 1 x 1"
  expect_frames faults 2 "1 x 1"
  xdotool windowsize "$show" 480 270
  # A bare X server iconifies nothing: a window manager takes the client's
  # iconify request (WM_CHANGE_STATE) and unmaps the window, as on a desktop.
  # The request counts only once the manager has taken the window over
  # (WM_STATE Normal); until then its reparenting unmaps the window briefly.
  openbox --sm-disable >"$out/openbox.log" 2>&1 &
  wm=$!
  wm_state() { xprop -id "$show" WM_STATE 2>/dev/null | sed -nE 's/.*window state: (.*)/\1/p'; }
  for _ in $(seq 200); do [ "$(wm_state)" = Normal ] && break; sleep 0.1; done
  xdotool windowminimize "$show"
  for _ in $(seq 100); do [ "$(wm_state)" = Iconic ] && break; sleep 0.1; done
  [ "$(wm_state)" = Iconic ] || fail "faults: the window was not minimised (state $(wm_state))"
  xwininfo -id "$show" | grep -q 'Map State: IsViewable' && fail "faults: still viewable when minimised"
  expect_frames faults 2 "minimised"
  # (xdotool warns while no window is active yet)
  timeout 10 xdotool windowactivate --sync "$show" 2>/dev/null || fail "faults: the window was not restored"
  expect_frames faults 2 "restored"
  kill $wm; wait $wm 2>/dev/null
  storm_start=$(date +%s%N)
  # Up to half the screen each way: software GL takes seconds over a frame
  # of the whole screen while the rest of the suite runs.
  last_size=$("$resize_storm" "$show" 300 20 5 960x540)
  echo "300 sizes in $((($(date +%s%N) - storm_start) / 1000000)) ms, the last $last_size"
  wait_drawable faults 20 "$last_size" || fail "faults: drawable $(probe_field "$log" drawable) after the storm, the window $last_size"
  expect_frames faults 2 "after 300 sizes"
  end_probed faults
fi

echo "== A model that fails to parse: one line names it, the show goes on without it"
if start_probed broken_model "$velmo_broken_model"; then
  expect_frames broken_model 2
  grep -E '^Model mill\.glb: .+' "$out/broken_model.log" || fail "broken_model: no line names the model"
  end_probed broken_model
fi
echo "fault cases: $(($(date +%s) - fault_start)) s"

if [ $failures -eq 0 ]; then echo "show_e2e: all checks passed"; exit 0; fi
for log in "$out"/*.log; do echo "--- $log"; cat "$log"; done
echo "show_e2e: $failures check(s) failed"
exit 1
