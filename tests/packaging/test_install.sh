#!/usr/bin/env bash
# Installs the build into a staging prefix and checks every installed file, and that the staged
# program finds its own copy of its font where only DejaVu's fonts are seen; then starts it as a
# desktop does, from the launcher through gio, from another directory, on a display of its own,
# and checks that it runs in the home directory, where Scores.txt belongs, and that its window's
# class is the one the launcher names.
#   test_install.sh BUILD_DIR SOURCE_DIR APP_ID DEJAVU_ONLY_FONTCONFIG
set -uo pipefail
. "$(dirname "$0")/common.sh"
build=$1 source=$2 app_id=$3 dejavu_only=$4

stage=$(mktemp -d)
program_pid=""
xvfb_pid=""
cleanup()
{
    [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$stage"
}
trap cleanup EXIT

prefix="$stage/usr"
if ! cmake --install "$build" --prefix "$prefix" >"$stage/install.log" 2>&1; then
    cat "$stage/install.log" >&2
    fail "cmake --install failed"
    finish
fi

installed=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
if [ "$installed" != "$(expected_files "$app_id")" ]; then
    fail "installed files differ from the expected list:"
    diff <(expected_files "$app_id") <(echo "$installed") >&2
fi

program="$prefix/bin/brisko-calculator"
[ -x "$program" ] || fail "the program is not executable"
file -b "$program" | grep -q '^ELF 64-bit LSB pie executable' || fail "the program is no executable: $(file -b "$program")"
# The window reports the application id, so the desktop can match it to its launcher.
grep -aq "$app_id" "$program" || fail "the program does not carry the application id $app_id"

launcher="$prefix/share/applications/$app_id.desktop"
[ "$(desktop_key "$launcher" Name)" = "Brisko Calculator" ] || fail "launcher Name is not Brisko Calculator"
[ "$(desktop_key "$launcher" Icon)" = "$app_id" ] || fail "launcher Icon is not $app_id"
[ -n "$(desktop_key "$launcher" Comment)" ] || fail "launcher has no Comment"
desktop_key "$launcher" Categories | grep -q '^Game;' || fail "launcher is not in the Game category"

metainfo="$prefix/share/metainfo/$app_id.metainfo.xml"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" \
    || fail "the metainfo does not name the installed launcher"

icons="$prefix/share/icons/hicolor"
cmp -s "$icons/scalable/apps/$app_id.svg" "$source/resources/brisko-icon.svg" || fail "the scalable icon is not brisko-icon.svg"
for size in 16 32 48 64 128 256; do
    icon="$icons/${size}x${size}/apps/$app_id.png"
    file -b "$icon" | grep -q "^PNG image data, $size x $size," || fail "$icon is not a ${size}x${size} PNG: $(file -b "$icon")"
    # the same picture as the window icon, which the program has compiled in from resources/icons
    cmp -s "$icon" "$source/resources/icons/$size.png" || fail "$icon differs from resources/icons/$size.png"
done

# Qt notes every face it adds to its font database; with only DejaVu's fonts seen, a Liberation
# Sans can only be the program's own.
font_log=$(cd "$stage" && FONTCONFIG_FILE=$dejavu_only QT_QPA_PLATFORM=offscreen \
    QT_LOGGING_RULES='qt.text.font.db.debug=true' timeout 5 "$program" 2>&1)
for style in Regular Bold; do
    grep -q "Adding font: familyName \"Liberation Sans\" stylename \"$style\"" <<<"$font_log" \
        || fail "without a face of the design font's metrics, the program did not load its own Liberation Sans $style"
done

if ! command -v gio >/dev/null; then
    fail "gio (libglib2.0-bin) is missing: cannot start the launcher"
    finish
fi
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$stage/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$stage/display" ] && break
    sleep 0.1
done
display=":$(cat "$stage/display")"
home="$stage/home of a player"
mkdir -p "$home"
(cd / && env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY HOME="$home" PATH="$prefix/bin:$PATH" DISPLAY="$display" \
    gio launch "$launcher") || fail "gio launch failed"
for _ in $(seq 100); do
    for proc in /proc/[0-9]*; do
        if [ "$(readlink "$proc/exe" 2>/dev/null)" = "$program" ]; then
            program_pid=${proc#/proc/}
            break 2
        fi
    done
    sleep 0.1
done
if [ -z "$program_pid" ]; then
    fail "the launcher did not start $program"
else
    sleep 0.5  # still running: it did not stop at start-up
    kill -0 "$program_pid" 2>/dev/null || fail "the program stopped right after start"
    cwd=$(readlink "/proc/$program_pid/cwd")
    [ "$cwd" = "$home" ] || fail "the program runs in '$cwd', not in the home directory '$home'"
    # WM_CLASS is (instance, class); docks match the class against StartupWMClass
    window=$(xwininfo -display "$display" -root -tree | sed -n 's/^ *\(0x[0-9a-f]*\) "Brisko Calculator - ver.*/\1/p' | head -n 1)
    class=$(xprop -display "$display" -id "${window:-0}" WM_CLASS 2>/dev/null | sed -n 's/^WM_CLASS(STRING) = ".*", "\(.*\)"$/\1/p')
    [ -n "$class" ] && [ "$class" = "$(desktop_key "$launcher" StartupWMClass)" ] \
        || fail "the window's class '$class' is not the launcher's StartupWMClass '$(desktop_key "$launcher" StartupWMClass)'"
fi
finish
