#!/usr/bin/env bash
# Packs the current build with CPack into a temporary directory and inspects the .deb: lintian
# finds nothing to report, not even information; name, version, maintainer, the files it
# installs, dependencies that cover every library and the font the program loads, the Wayland
# plugin recommended, and no web address but the home page, when there is one.
#   test_deb.sh BUILD_DIR APP_ID VERSION MAINTAINER [HOMEPAGE]
set -uo pipefail
. "$(dirname "$0")/common.sh"
build=$1 app_id=$2 version=$3 maintainer=$4 homepage=${5:-}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    fail "cpack failed"
    finish
fi
debs=("$work"/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    fail "cpack made no single .deb: ${debs[*]}"
    finish
fi
deb=${debs[0]}
arch=$(dpkg --print-architecture)
[ "$(basename "$deb")" = "brisko-calculator_${version}_$arch.deb" ] || fail "unexpected file name $(basename "$deb")"

# stderr only says that lintian runs as root, which it does on a build machine
# lintian leaves a database file in its temporary folder: that is the test's own
report=$(TMPDIR="$work" lintian --pedantic --display-info "$deb" 2>"$work/lintian.log")
status=$?
[ "$status" -eq 0 ] || fail "lintian exited with $status: $(cat "$work/lintian.log")"
# Without a home page AppStream 1.0 fails the metainfo on that warning alone (test_metainfo.sh),
# and lintian, which asks it about the installed tree, says that it failed: so long as the
# tree's only finding is that one, this is the line it says it with.
dpkg-deb -x "$deb" "$work/root"
if [ -z "$homepage" ] && appstreamcli validate-tree --no-net "$work/root" >"$work/appstream.log" 2>&1; then
    :
elif [ -z "$homepage" ] && [ "$(grep -E '^ *[EWI]: ' "$work/appstream.log" | sed 's/^ *//')" = \
    "W: $app_id:~: url-homepage-missing" ]; then
    report=$(grep -vxF 'W: brisko-calculator: appstream-metadata-validation-failed Problems reported by "appstreamcli validate-tree".' <<<"$report")
fi
[ -z "$report" ] || fail "lintian reported:"$'\n'"$report"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = brisko-calculator ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)'"
[ -n "$(field Description)" ] || fail "no Description"
[ "$(field Maintainer)" = "$maintainer" ] || fail "Maintainer is '$(field Maintainer)', not '$maintainer'"
[ "$(field Homepage)" = "$homepage" ] || fail "Homepage is '$(field Homepage)', not '$homepage'"

contents=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./usr/||' | sort)
if [ "$contents" != "$(expected_files "$app_id" without-font)" ]; then
    fail "the package's files differ from the expected list:"
    diff <(expected_files "$app_id" without-font) <(echo "$contents") >&2
fi
owners=$(dpkg-deb -c "$deb" | awk '{print $2}' | sort -u)
[ "$owners" = root/root ] || fail "files are not owned by root: $owners"

[ "$(field Recommends)" = qt6-wayland ] || fail "Recommends is '$(field Recommends)', not qt6-wayland"

# Every package in Depends, without its version; a library may carry the 64-bit time suffix that
# Debian 13 gives the packages whose interface has a time_t in it.
depends=$(field Depends | tr ',|' '\n\n' | sed 's/(.*)//; s/[[:space:]]//g' | sed '/^$/d' | sort -u)
for package in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins; do
    grep -qxF -e "$package" -e "${package}t64" <<<"$depends" || fail "Depends lacks $package: $(field Depends)"
done
field Depends | grep -Eq 'libqt6widgets6 \(>= 6\.' || fail "Depends gives no Qt 6 version: $(field Depends)"
# Liberation 2 under its name on Debian 13 or on Debian 12, whose fonts-liberation is version 1.
field Depends | tr ',' '\n' | grep -qx ' *fonts-liberation (>= 1:2\.1) | fonts-liberation2' \
    || fail "Depends does not ask for Liberation 2 by either name: $(field Depends)"

# Each library the packed program links directly comes from a package it depends on; those
# packages bring their own dependencies.
# The copyright format is the one address that always ships; XML namespaces name no page.
addresses=$( (dpkg-deb -f "$deb"; find "$work/root" -type f -exec sh -c 'case $1 in *.gz) zcat "$1";; *) cat "$1";; esac' - {} \;) \
    | sed -E 's/xmlns(:[a-z]+)?="[^"]*"//g' | grep -aoE '[a-z]+://[^][ "<>()]+' | sort -u)
while read -r address; do
    case $address in
        '' | https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/) ;;
        *) [ -n "$homepage" ] && [[ $address == "$homepage"* ]] || fail "the package names $address" ;;
    esac
done <<<"$addresses"
packed="$work/root/usr/bin/brisko-calculator"
needed=$(readelf -d "$packed" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
[ -n "$needed" ] || fail "the packed program links no shared library"
for library in $needed; do
    path=$(ldd "$packed" | awk -v lib="$library" '$1 == lib && $2 == "=>" {print $3}')
    if [ -z "$path" ] || [ "$path" = "not" ]; then
        fail "$library is not found on this machine"
        continue
    fi
    owner=$(dpkg -S "$(realpath "$path")" 2>/dev/null | head -n 1 | cut -d: -f1)
    [ -n "$owner" ] || owner=$(dpkg -S "$path" 2>/dev/null | head -n 1 | cut -d: -f1)
    grep -qx "$owner" <<<"$depends" || fail "$library comes from ${owner:-no package}, which Depends does not name"
done
finish
