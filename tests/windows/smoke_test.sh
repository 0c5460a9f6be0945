#!/usr/bin/env bash
# The Windows zip as a player meets it: unpacked into a fresh folder, started under wine in a
# fresh working folder on an X display of its own with a window manager, and driven from the
# keyboard: pick ABSOLUTE by typing its title, enter 2 Greats, 1 Good and 1 Boo (10 DP lost),
# Insert, File Print, close the window. The Linux program is driven the same way, and the two
# must have written the same Scores.txt and OutPrint.txt, the Windows ones with CR LF line ends.
# Wine sees no fonts but DejaVu's, so the window has to find its own Liberation Sans in the zip.
#
#   tests/windows/smoke_test.sh ZIP LINUX_PROGRAM WINEPREFIX
#
# WINEPREFIX is the smoke test's own, made on its first run; wine remembers the fonts it has
# seen, so a prefix that has known others would hide what this test looks for.
set -euo pipefail
zip=$(readlink -f "$1")
linux_program=$(readlink -f "$2")
export WINEPREFIX=$3 WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WINEPATH WAYLAND_DISPLAY QT_QPA_PLATFORM

tmp=$(mktemp -d)
x_server= window_manager= program= log=
cleanup() {
  [ -z "$program" ] || kill "$program" 2> /dev/null || true
  [ ! -d "$WINEPREFIX" ] || wineserver --kill 2> /dev/null || true
  [ -z "$window_manager" ] || kill "$window_manager" 2> /dev/null || true
  [ -z "$x_server" ] || kill "$x_server" 2> /dev/null || true
  cd /
  rm -rf "$tmp"
}
trap cleanup EXIT

fail() {
  echo "smoke test: $*" >&2
  if [ -n "$log" ]; then
    echo "-- the program's last output:" >&2
    grep -v ':trace:' "$log" | tail -n 20 >&2
  fi
  exit 1
}

# Polls a condition ten times a second until it holds; fails with the message after the given
# number of seconds.
wait_for() {
  local message=$1 deadline=$((SECONDS + $2))
  shift 2
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || fail "$message"
    sleep 0.1
  done
}

cat > "$tmp/dejavu-only.conf" <<EOF
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig><dir>$(dirname "$(fc-match -f '%{file}' 'DejaVu Sans')")</dir></fontconfig>
EOF
# Wine registers every host font it was ever shown; a prefix that knows a face besides DejaVu's
# (the program was started in it by hand, say) would hide the zip's fonts, so it is made anew.
if grep -i 'Z:\\\\usr\\\\share\\\\fonts.*\.ttf' "$WINEPREFIX/system.reg" 2> /dev/null | grep -qvi dejavu; then
  echo "== smoke test: the wine prefix has known host fonts besides DejaVu's; making it anew"
  # a server still running would write its registry into the new prefix as it ends
  wineserver --kill 2> /dev/null || true
  wineserver --wait 2> /dev/null || true
  rm -rf "$WINEPREFIX"
fi
if [ ! -d "$WINEPREFIX" ]; then
  echo "== wine prefix for the smoke test ($WINEPREFIX)"
  DISPLAY= FONTCONFIG_FILE="$tmp/dejavu-only.conf" wineboot --init 2> /dev/null
  wineserver --wait
fi

mkdir -p "$tmp/unpacked" "$tmp/windows" "$tmp/linux" "$tmp/config"
unzip -q "$zip" -d "$tmp/unpacked"
windows_program=$(find "$tmp/unpacked" -name brisko-calculator.exe)
[ -n "$windows_program" ] || fail "no brisko-calculator.exe in $zip"

exec 3> "$tmp/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp > "$tmp/xvfb.log" 2>&1 &
x_server=$!
exec 3>&-
display_known() { [ -s "$tmp/display" ]; }
wait_for "Xvfb did not start" 30 display_known
export DISPLAY=":$(cat "$tmp/display")"
XDG_CONFIG_HOME="$tmp/config" openbox > "$tmp/openbox.log" 2>&1 &
window_manager=$!
window_manager_runs() { xprop -root _NET_SUPPORTING_WM_CHECK 2> /dev/null | grep -q 'window id'; }
wait_for "openbox did not start" 30 window_manager_runs

window=
find_window() {
  window=$(xdotool search --onlyvisible --name '^Brisko Calculator' 2> /dev/null | head -n 1)
  [ -n "$window" ]
}
window_active() { [ "$(xdotool getactivewindow 2> /dev/null)" = "$window" ]; }
file_written() { [ -s "$1" ]; }
program_ended() { ! kill -0 "$program" 2> /dev/null; }

# Starts one program in its working folder and plays the part of the player. The dates around
# the Insert go to NAME.dates.
play() {
  local name=$1
  shift
  cd "$tmp/$name"
  log="$tmp/$name.log"
  "$@" > "$log" 2>&1 &
  program=$!
  wait_for "the $name window did not show within 90 s" 90 find_window
  xdotool windowactivate "$window" 2> /dev/null || true
  wait_for "the $name window did not become active" 30 window_active
  # the list has the focus: the title picks the chart, Enter goes on to Great, then to the next
  xdotool type --delay 50 ABSOLUTE
  xdotool key Return type 2
  xdotool key Return type 1
  xdotool key Return type 1
  date +%d/%m/%Y > "$tmp/$name.dates"
  xdotool key alt+i
  wait_for "$name: Insert wrote no Scores.txt" 30 file_written Scores.txt
  date +%d/%m/%Y >> "$tmp/$name.dates"
  xdotool key alt+f
  wait_for "$name: File Print wrote no OutPrint.txt" 30 file_written OutPrint.txt
  xdotool key alt+F4
  wait_for "the $name program did not end after its window was closed" 30 program_ended
  local status=0
  wait "$program" || status=$?
  program=
  [ "$status" -eq 0 ] || fail "the $name program ended with status $status"
  [ "$(ls | tr '\n' ' ')" = "OutPrint.txt Scores.txt " ] || fail "$name: other files than the two: $(ls)"
  log=
}

echo "== smoke test: the Linux program"
play linux "$linux_program"
echo "== smoke test: the zipped Windows program under wine"
play windows env FONTCONFIG_FILE="$tmp/dejavu-only.conf" WINEDEBUG=-all,trace+file wine "$windows_program"

# The date an Insert stored must be today's, before or after it; it then reads "today".
with_date_put_in() {
  local name=$1 date
  date=$(sed -n '/^ABSOLUTE\r\?$/{n;s/\r$//;p;q}' "$tmp/$name/Scores.txt")
  grep -qxF -- "$date" "$tmp/$name.dates" || fail "$name: ABSOLUTE was stored with the date '$date', not today's"
  sed "s#^$date\(\r\?\)\$#today\1#" "$tmp/$name/Scores.txt"
}
with_date_put_in linux > "$tmp/linux.scores"
with_date_put_in windows > "$tmp/windows.scores"
[ "$(sed -n '/^ABSOLUTE$/{n;N;p;q}' "$tmp/linux.scores")" = $'today\n10' ] ||
  fail "the Linux program did not store 10 DP lost for ABSOLUTE today"
grep -q '^|ABSOLUTE  *|43| AA|  10|98.39%|$' "$tmp/linux/OutPrint.txt" ||
  fail "the Linux program did not print ABSOLUTE with 10 DP lost"
with_crlf() { sed 's/$/\r/' "$1"; }
cmp <(with_crlf "$tmp/linux.scores") "$tmp/windows.scores" ||
  fail "Scores.txt differs between the Linux and the Windows program beyond CR LF"
cmp <(with_crlf "$tmp/linux/OutPrint.txt") "$tmp/windows/OutPrint.txt" ||
  fail "OutPrint.txt differs between the Linux and the Windows program beyond CR LF"

# Wine without fonts of its own, and the host's limited to DejaVu, has no face of the design
# font's metrics: the window must have opened the copy in the zip's fonts folder. Wine's trace
# names the file, and on the next line of the call the handle, all Fs when it failed.
font_opened() {
  awk '/CreateFileW L".*\\fonts\\\\LiberationSans-Regular\.ttf"/ { asked = 1; next }
       asked && /CreateFileW returning/ { if ($NF !~ /^F+$/) opened = 1; asked = 0 }
       END { exit !opened }' "$tmp/windows.log"
}
if ls "$(dirname "$(command -v wine)")"/../share/wine/fonts/sserife*.fon > /dev/null 2>&1; then
  echo "== smoke test: wine brings its own MS Sans Serif, so the zip's fonts were not needed"
else
  font_opened || fail "the Windows program did not open fonts\\LiberationSans-Regular.ttf of the zip"
fi
echo "== smoke test: passed; Scores.txt and OutPrint.txt as on Linux, with CR LF"
