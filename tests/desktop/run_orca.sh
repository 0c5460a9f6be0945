#!/usr/bin/env bash
# run_orca.sh PROGRAM WINDOW_MANAGER: a private Xvfb display, the window manager (openbox or
# fluxbox) and a private session bus; orca_heard.py runs Orca there and reads what it says of
# the program. Skips (77) where Orca or another tool is missing. Bounded: every child is ended.
set -euo pipefail
program=$(realpath "$1")
manager=$2
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3  # the system's, which has the at-spi bindings and Orca

skip() { echo "SKIP: $* (scripts/bootstrap installs it)"; exit 77; }
for tool in Xvfb "$manager" dbus-run-session xdotool orca; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done
"$python" -c 'import pyatspi' 2>/dev/null || skip "python3-pyatspi is missing"

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/Xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 300); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "FAIL: Xvfb did not start: $(cat "$work/Xvfb.log")"; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")"

mkdir -m 700 "$work/home" "$work/run" "$work/scores"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/home/.config"
"$manager" >"$work/manager.log" 2>&1 &
pids+=($!)
sleep 1

# The bus's own daemons may outlive it for a moment; they write into a file, not into the pipe
# that the test's runner waits on.
status=0
timeout -k 10 200 dbus-run-session -- "$python" "$here/orca_heard.py" "$program" "$work/scores" \
  >"$work/heard.log" 2>&1 || status=$?
grep -E '^(PASS|FAIL|after)' "$work/heard.log" || true
[ "$status" -eq 0 ] || { echo "FAIL: status $status"; tail -n 20 "$work/heard.log"; }
exit "$status"
