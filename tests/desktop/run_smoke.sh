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

. "$here/private_display.sh"
openbox --sm-disable --startup "sh -c 'echo up > $work/wm-ready'" >"$work/openbox.log" 2>&1 &
pids+=($!)
wait_for "$work/wm-ready" "$work/openbox.log"

dbus-run-session -- "$python" "$here/smoke.py" "$program" "$work/scores"
