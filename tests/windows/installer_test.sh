#!/usr/bin/env bash
# The Windows installer under wine, silent as a deployment runs it: it must put the zip's folder
# into the player's programs folder with an uninstaller, a Start menu entry that starts in
# Documents and an entry in the installed programs; the uninstaller must take all of that away
# again but for files it did not install, such as a Scores.txt.
#
#   tests/windows/installer_test.sh SETUP ZIP WINEPREFIX
set -euo pipefail
setup=$(readlink -f "$1")
zip=$(readlink -f "$2")
export WINEPREFIX=$3 WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY WINEPATH
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\BriskoCalculator'

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() {
  echo "installer test: $*" >&2
  exit 1
}

user_folder=$(find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -n 1)
[ -n "$user_folder" ] || fail "no user folder in the wine prefix $WINEPREFIX"
installed="$user_folder/AppData/Local/Programs/Brisko Calculator"
shortcut="$user_folder/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Brisko Calculator.lnk"
# what an earlier run that failed half-way left
rm -rf "$installed" "$shortcut"
wine reg delete "$key" /f > /dev/null 2>&1 || true

echo "== installer test: install"
wine "$setup" /S || fail "the installer ended with status $?"
unzip -q "$zip" -d "$tmp"
diff <(cd "$tmp"/brisko-calculator-* && find . | sort) <(cd "$installed" && find . ! -name Uninstall.exe | sort) ||
  fail "the installed folder is not the zip's"
[ -f "$installed/Uninstall.exe" ] || fail "no uninstaller"
[ -f "$shortcut" ] || fail "no Start menu entry"
# a shell link keeps its working folder as a string of UTF-16 characters
strings -e l "$shortcut" | grep -q '^C:\\users\\[^\\]*\\Documents$' ||
  fail "the Start menu entry does not start in Documents"
wine reg query "$key" /v UninstallString | grep -qF 'Uninstall.exe' || fail "no entry in the installed programs"

echo "== installer test: uninstall, with a Scores.txt in the program's folder"
echo "kept" > "$installed/Scores.txt"
wine "$installed/Uninstall.exe" /S
# the uninstaller runs from a copy of itself and returns at once
deadline=$((SECONDS + 60))
while [ -e "$installed/Uninstall.exe" ]; do
  [ "$SECONDS" -lt "$deadline" ] || fail "the uninstaller did not finish within 60 s"
  sleep 0.1
done
wineserver --wait
[ "$(cd "$installed" && find . | sort | tr '\n' ' ')" = ". ./Scores.txt " ] ||
  fail "the uninstaller left $(cd "$installed" && find . -mindepth 1 ! -name Scores.txt | head -n 5 | tr '\n' ' ')or took Scores.txt"
[ ! -e "$shortcut" ] || fail "the Start menu entry is still there"
! wine reg query "$key" > /dev/null 2>&1 || fail "the entry in the installed programs is still there"
rm -rf "$installed"
echo "== installer test: passed"
