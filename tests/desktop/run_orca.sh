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
# The words checked are Orca 43's (Debian 12); other versions word roles and fields otherwise.
version=$(orca --version 2>/dev/null | head -n 1)
case "$version" in
  43.*) ;;
  *) echo "SKIP: Orca $version is not Orca 43, whose words this run checks"; exit 77 ;;
esac

. "$here/private_display.sh"
"$manager" >"$work/manager.log" 2>&1 &
pids+=($!)
sleep 1

# The bus's own daemons may outlive it for a moment; they write into a file, not into the pipe
# that the test's runner waits on.
status=0
started=$SECONDS
timeout -k 10 200 dbus-run-session -- "$python" "$here/orca_heard.py" "$program" "$work/scores" \
  >"$work/heard.log" 2>&1 || status=$?
grep -E '^(PASS|FAIL|after)' "$work/heard.log" || true
echo "Orca's run took $((SECONDS - started)) s"
[ "$status" -eq 0 ] || { echo "FAIL: status $status"; tail -n 20 "$work/heard.log"; }
exit "$status"
