#!/usr/bin/env bash
# The whole show under the sanitizers, start to end (minutes each, so not part
# of the test command). Usage: scripts/sanitize-show.sh [asan] [tsan]
# (both when no argument is given). Exits 0 when no run reported anything.
#
# asan: velmo-capture built with AddressSanitizer and UndefinedBehaviorSanitizer
#   (build-asan/, VELMO_SANITIZE) renders every frame of the show at 60 frames
#   per second from the manual clock at 160x90 and keeps a contact sheet of 40
#   of them, the last frame of the show included (build-asan/sanitize-sheet.png).
#   Any report ends the run with a failure.
# tsan: the real velmo built with ThreadSanitizer (build-tsan/, VELMO_TSAN) on a
#   320x180 Xvfb screen with SDL's dummy audio driver, so SDL's audio thread
#   plays the music in real time beside the main thread and the fetcher's I/O
#   thread. It is started through its setup dialog, left to play past the end of
#   the music, then ended with Escape; it must exit 0 without a report. Reports
#   from inside the uninstrumented libraries are suppressed by
#   scripts/tsan-suppressions.txt, which says why for each.
#
# Builds only what each run needs, at low priority; logs and pictures go to the
# build folders.
set -uo pipefail
cd "$(dirname "$0")/.."
runs=("$@")
[ ${#runs[@]} -eq 0 ] && runs=(asan tsan)
failures=0

# The show's music lasts 190 s (1,266.67 rows at 400 rows a minute).
show_seconds=190

configure_and_build() {  # build dir, target, cmake options...
  local dir=$1 target=$2; shift 2
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMO_TESTS=OFF "$@" >/dev/null &&
    nice cmake --build "$dir" -j "$(nproc)" --target "$target"
}

run_asan() {
  echo "== asan: every frame of the show through velmo-capture under ASan and UBSan"
  configure_and_build build-asan velmo-capture -DVELMO_SANITIZE=ON || { echo "FAIL: asan build"; return 1; }
  local log=build-asan/sanitize-show.log start=$SECONDS status
  # Picks every 32 rows from row 18.5, so the 40th is row 1266.5: the show's
  # last frame. --seek run draws every frame from row 0 on the way.
  ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:print_stacktrace=1:exitcode=66 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    nice xvfb-run -a -s "-screen 0 640x480x24 -noreset" \
    build-asan/velmo-capture --format sheet --size 160x90 --fps 60 --from-row 18.5 --every 32 --columns 8 \
      --out build-asan/sanitize-sheet.png >"$log" 2>&1
  status=$?
  echo "asan: exit status $status after $((SECONDS - start)) s; $(grep 'velmo-capture: wrote' "$log")"
  if [ $status -ne 0 ] || grep -qE 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$log"; then
    echo "FAIL: asan run (log: $log)"; tail -40 "$log"; return 1
  fi
}

source tests/e2e/x_helpers.sh  # find_window, wait_window, press

# Runs inside the X server of run_tsan: the dialog, Enter, the whole show, Escape.
tsan_session() {
  local velmo=$1 log=$2 pid dialog show
  SDL_AUDIODRIVER=dummy "$velmo" >"$log" 2>&1 &
  pid=$!
  dialog=$(wait_window "we like velmos" 60) || { echo "no setup dialog"; kill "$pid"; return 1; }
  press "$dialog" Return
  show=$(wait_window "velmo velmo velmo" 60) || { echo "no show window"; kill "$pid" 2>/dev/null; return 1; }
  # Under ThreadSanitizer on a loaded machine the music can play slower than
  # real time (the dummy driver does not catch up), so the end is where the
  # picture stops changing: three identical screens 5 s apart, once the music
  # could have ended; 15 minutes at most.
  echo "tsan: the show runs; waiting for the end of its music (the picture freezes)"
  local waited=0 same=0 last="" now
  while kill -0 "$pid" 2>/dev/null && [ $waited -lt 900 ]; do
    sleep 5; waited=$((waited + 5))
    [ $waited -lt $show_seconds ] && continue
    now=$(xwd -root -silent | md5sum)
    if [ "$now" = "$last" ]; then same=$((same + 1)); else same=0; fi
    last=$now
    [ $same -ge 2 ] && break
  done
  kill -0 "$pid" 2>/dev/null || { wait "$pid"; echo "the show ended by itself with status $?"; return 1; }
  [ $same -ge 2 ] || { echo "the picture still changed after $waited s"; kill "$pid"; return 1; }
  echo "tsan: the picture froze after $waited s"
  import -window root "${log%.log}-end.png" 2>/dev/null || true
  press "$show" Escape
  for _ in $(seq 600); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then echo "no exit 60 s after Escape"; kill "$pid"; return 1; fi
  wait "$pid"
}

run_tsan() {
  echo "== tsan: the real show with SDL's audio thread and the fetcher's I/O thread under TSan"
  configure_and_build build-tsan velmo -DVELMO_TSAN=ON || { echo "FAIL: tsan build"; return 1; }
  local log=build-tsan/sanitize-show.log start=$SECONDS status
  export TSAN_OPTIONS="halt_on_error=1:exitcode=66:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan-suppressions.txt"
  # The session runs inside the X server: this script again, told so.
  nice xvfb-run -a -s "-screen 0 320x180x24 -noreset" "$0" --tsan-session build-tsan/velmo "$log"
  status=$?
  unset TSAN_OPTIONS
  echo "tsan: exit status $status after $((SECONDS - start)) s"
  if [ $status -ne 0 ] || grep -q 'WARNING: ThreadSanitizer' "$log"; then
    echo "FAIL: tsan run (log: $log)"; tail -60 "$log"; return 1
  fi
}

if [ "${1:-}" = --tsan-session ]; then
  tsan_session "$2" "$3"
  exit
fi

for r in "${runs[@]}"; do
  case $r in
    asan) run_asan || failures=$((failures + 1)) ;;
    tsan) run_tsan || failures=$((failures + 1)) ;;
    *) echo "usage: $0 [asan] [tsan]" >&2; exit 2 ;;
  esac
done
[ $failures -eq 0 ] && echo "sanitize-show: no reports" && exit 0
echo "sanitize-show: $failures run(s) failed"
exit 1
