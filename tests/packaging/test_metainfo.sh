#!/usr/bin/env bash
# The AppStream metainfo validates offline without errors, warnings or notes, names the launcher
# it belongs to and the licence, and describes this version. It names a web address only when
# the project has a home page: then the page and the screenshot published below it.
#   test_metainfo.sh METAINFO APP_ID VERSION [HOMEPAGE]
set -uo pipefail
. "$(dirname "$0")/common.sh"
metainfo=$1 app_id=$2 version=$3 homepage=${4:-}

# Judged by this release's AppStream. Version 1.0 (Debian 13) wants a home page: without one it
# fails the metainfo on that warning alone. Earlier versions (0.16 on Debian 12) do not know
# 1.0's developer tag and say so.
appstream=$(appstreamcli --version | sed -n 's/^AppStream version: //p')
if dpkg --compare-versions "$appstream" lt 1.0; then
    allowed="I: $app_id:[0-9]+: unknown-tag developer"
elif [ -z "$homepage" ]; then
    allowed="W: $app_id:~: url-homepage-missing"
else
    allowed='^$'
fi
output=$(appstreamcli validate --no-net "$metainfo" 2>&1)
status=$?
findings=$(grep -E '^[EWI]: ' <<<"$output")
grep -vxE "$allowed" <<<"$findings" | grep -q . && fail "appstreamcli $appstream reported: $output"
if [ "$status" -ne 0 ] && ! grep -q '^W: ' <<<"$findings"; then
    fail "appstreamcli validate exited with $status: $output"
fi

grep -q "<id>$app_id</id>" "$metainfo" || fail "the component id is not $app_id"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" \
    || fail "the launchable is not $app_id.desktop"
grep -q "<project_license>MIT</project_license>" "$metainfo" || fail "the project licence is not MIT"
tr -d '\n' <"$metainfo" | grep -qE '<developer id="org\.brisko">\s*<name>Wren</name>\s*</developer>' \
    || fail "the developer is not Wren, with an id"
grep -q "<release version=\"$version\"" "$metainfo" || fail "no release $version"

addresses=$(grep -o '>[a-z]*://[^<]*<' "$metainfo" | tr -d '<>' | sort)
if [ -z "$homepage" ]; then
    [ -z "$addresses" ] || fail "addresses named without a home page: $addresses"
else
    expected=$(printf '%s\n' "$homepage" "$homepage/screenshots/$version/screenshot-1x.png" | sort)
    [ "$addresses" = "$expected" ] || fail "the addresses are not the home page and its screenshot: $addresses"
    grep -q "<url type=\"homepage\">$homepage</url>" "$metainfo" || fail "no home page $homepage"
fi
finish
