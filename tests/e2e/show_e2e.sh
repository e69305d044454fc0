#!/usr/bin/env bash
# The real executable under X, driven as a person would: the setup dialog, Enter
# and Escape, "Full screen" unchecked. Needs DISPLAY (the test command runs Xvfb).
# Usage: show_e2e.sh <velmo> <output folder for screenshots> <close_window>
set -u
velmo=$1
out=$2
close_window=$3
mkdir -p "$out"
: "${DISPLAY:?show_e2e needs an X display (run under xvfb-run)}"
export SDL_AUDIODRIVER=dummy

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The id of a top-level window named exactly $1 (xwininfo sees every window, also
# those that xdotool's search skips), or nothing.
find_window() {
  xwininfo -root -children 2>/dev/null | awk -v q="\"$1\":" '$2 == q || index($0, " " q " ") {print $1; exit}'
}

# Waits up to $2 seconds for a window named exactly $1 to be mapped (a window
# takes focus and keys only then); prints its id.
wait_window() {
  local name=$1 limit=$2 id
  for _ in $(seq $((limit * 10))); do
    id=$(find_window "$name")
    if [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable'; then
      echo "$id"
      return 0
    fi
    sleep 0.1
  done
  return 1
}

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

press() {  # window id, keys...
  local id=$1; shift
  timeout 10 xdotool windowfocus --sync "$id" 2>/dev/null || xdotool windowfocus "$id"
  sleep 0.2
  xdotool key --delay 100 "$@"
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

if [ $failures -eq 0 ]; then echo "show_e2e: all checks passed"; exit 0; fi
for log in "$out"/*.log; do echo "--- $log"; cat "$log"; done
echo "show_e2e: $failures check(s) failed"
exit 1
