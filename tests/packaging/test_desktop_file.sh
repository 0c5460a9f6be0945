#!/usr/bin/env bash
# The launcher passes desktop-file-validate without errors, warnings or hints.
#   test_desktop_file.sh LAUNCHER
set -uo pipefail
. "$(dirname "$0")/common.sh"
launcher=$1

output=$(desktop-file-validate "$launcher" 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "desktop-file-validate exited with $status"
[ -z "$output" ] || fail "desktop-file-validate reported: $output"
finish
