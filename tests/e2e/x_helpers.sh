# X helpers shared by the end-to-end script and the soak (sourced, not run).

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

press() {  # window id, keys...
  local id=$1; shift
  timeout 10 xdotool windowfocus --sync "$id" 2>/dev/null || xdotool windowfocus "$id"
  sleep 0.2
  xdotool key --delay 100 "$@"
}
