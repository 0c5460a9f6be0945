#!/usr/bin/env bash
# The AppStream metainfo validates offline without errors, warnings or notes, names the launcher
# it belongs to and the licence, and describes this version. It names a web address only when
# the project has a home page: then the page and the screenshot published below it.
#   test_metainfo.sh METAINFO APP_ID VERSION [HOMEPAGE]
set -uo pipefail
. "$(dirname "$0")/common.sh"
metainfo=$1 app_id=$2 version=$3 homepage=${4:-}

output=$(appstreamcli validate --no-net "$metainfo" 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "appstreamcli validate exited with $status: $output"
if grep -qE '^[EWI]: ' <<<"$output"; then
    fail "appstreamcli validate reported: $output"
fi

grep -q "<id>$app_id</id>" "$metainfo" || fail "the component id is not $app_id"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" \
    || fail "the launchable is not $app_id.desktop"
grep -q "<project_license>MIT</project_license>" "$metainfo" || fail "the project licence is not MIT"
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
