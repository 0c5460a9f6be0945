#!/usr/bin/env bash
# Starts a private Xvfb display (the server picks a free number), openbox on it and a private
# session bus, on which the accessibility bus starts when first asked for; smoke.py then drives
# the program there. Skips (77) only when a tool it needs is missing.
set -euo pipefail
program=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3  # the system's, which has the at-spi bindings

skip() { echo "SKIP: $* (scripts/bootstrap installs it)"; exit 77; }
for tool in Xvfb openbox dbus-run-session xdotool; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done
[ -x /usr/libexec/at-spi-bus-launcher ] || skip "at-spi2-core is missing"
"$python" -c 'import pyatspi' 2>/dev/null || skip "python3-pyatspi is missing"

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
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

mkdir -m 700 "$work/home" "$work/run"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/home/.config"
openbox --sm-disable --startup "sh -c 'echo up > $work/wm-ready'" >"$work/openbox.log" 2>&1 &
pids+=($!)
wait_for "$work/wm-ready" "$work/openbox.log"

mkdir "$work/scores"
dbus-run-session -- "$python" "$here/smoke.py" "$program" "$work/scores"
