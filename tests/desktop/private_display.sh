# Sourced by the desktop tests: a temporary folder $work, a private Xvfb display (the server
# picks a free number) as $DISPLAY, a private home, and every child recorded in pids ended on exit.
work=$(mktemp -d)
pids=()
# A child that does not end within five seconds of SIGTERM (a window manager caught between
# its display's loss and its own handler) is killed, so that no run outlasts its bound here.
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Waits up to 30 seconds for the file $1 to be written; else fails, showing the log $2.
wait_for() {
  for _ in $(seq 300); do
    [ -s "$1" ] && return 0
    sleep 0.1
  done
  echo "FAIL: $(basename "$2" .log) did not start: $(cat "$2")" >&2
  exit 1
}

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/Xvfb.log" 2>&1 &
pids+=($!)
wait_for "$work/display" "$work/Xvfb.log"
export DISPLAY=":$(head -n 1 "$work/display")"

mkdir -m 700 "$work/home" "$work/run" "$work/scores"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/home/.config"
