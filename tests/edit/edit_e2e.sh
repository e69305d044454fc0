#!/usr/bin/env bash
# velmo-edit under X against the scripted editor, as someone editing would use
# it: the editor pauses, jumps to row 100, sets "bg.index" to -0.5 (solid
# black) there and saves; the window goes from the intro's pattern background
# to black behind the captions, the 32 track files land in the save folder, and
# Escape ends the program with status 0.
# Usage: edit_e2e.sh <velmo-edit> <scripted_editor_run> <output folder>
set -u
edit=$1
editor=$2
out=$3
rm -rf "$out"
mkdir -p "$out"
: "${DISPLAY:?edit_e2e needs an X display (run under xvfb-run)}"
export SDL_AUDIODRIVER=dummy

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

shot() { echo "shell import -window \"\$(xdotool search --name '^velmo-edit$' | head -1)\" $out/$1.png"; }

"$editor" 0 synced "pause 1" "row 100" "wait 0.5" "$(shot before)" "key bg.index 100 -0.5 0" "wait 0.5" "$(shot bg_changed)" \
  save "wait 0.5" >"$out/editor.log" 2>&1 &
editor_pid=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's/^scripted editor: listening on 127.0.0.1:\([0-9]*\)$/\1/p' "$out/editor.log")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { fail "the scripted editor did not start"; kill $editor_pid; exit 1; }

"$edit" --size 320x180 --port "$port" --save-dir "$out/saved" >"$out/edit.log" 2>&1 &
edit_pid=$!
wait $editor_pid || fail "the scripted editor's script failed: $(cat "$out/editor.log")"

# Mean brightness of a screenshot, 0 to 1.
mean() { convert "$out/$1.png" -format '%[fx:mean]' info: 2>/dev/null || echo missing; }
before=$(mean before)
bg_changed=$(mean bg_changed)
echo "mean brightness: before $before, background changed $bg_changed"
awk -v m="$before" 'BEGIN {exit !(m != "missing" && m > 0.2)}' || fail "row 100 does not show the intro's background ($before)"
awk -v b="$before" -v m="$bg_changed" 'BEGIN {exit !(m != "missing" && m < b / 2)}' ||
  fail "the black background set at row 100 did not show ($before before, $bg_changed after)"

[ "$(ls "$out/saved" 2>/dev/null | grep -c '\.track$')" = 32 ] || fail "the save did not write 32 track files"
grep -q "saved 32 track files to $out/saved" "$out/edit.log" || fail "the save did not say where: $(cat "$out/edit.log")"

id=$(xdotool search --name '^velmo-edit$' | head -1)
if [ -n "$id" ]; then
  xdotool windowfocus --sync "$id" 2>/dev/null || true
  sleep 0.2
  xdotool key --window "$id" Escape
fi
status=timeout
for _ in $(seq 100); do
  if ! kill -0 $edit_pid 2>/dev/null; then wait $edit_pid; status=$?; break; fi
  sleep 0.1
done
[ "$status" = timeout ] && kill $edit_pid 2>/dev/null
[ "$status" = 0 ] || fail "Escape: exit status $status"

[ $failures = 0 ] && echo "all passed"
exit $((failures > 0))
