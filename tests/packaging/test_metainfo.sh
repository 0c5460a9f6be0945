#!/usr/bin/env bash
# The AppStream metainfo validates offline without errors, warnings or notes, names the launcher
# it belongs to, and describes this version.
#   test_metainfo.sh METAINFO APP_ID VERSION
set -uo pipefail
. "$(dirname "$0")/common.sh"
metainfo=$1 app_id=$2 version=$3

output=$(appstreamcli validate --no-net "$metainfo" 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "appstreamcli validate exited with $status: $output"
if grep -qE '^[EWI]: ' <<<"$output"; then
    fail "appstreamcli validate reported: $output"
fi

grep -q "<id>$app_id</id>" "$metainfo" || fail "the component id is not $app_id"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" \
    || fail "the launchable is not $app_id.desktop"
grep -q "<release version=\"$version\"" "$metainfo" || fail "no release $version"
images=$(grep -o '<image[^>]*>[^<]*</image>' "$metainfo")
[ -n "$images" ] || fail "no screenshot image"
while read -r image; do
    url=$(sed 's/<[^>]*>//g' <<<"$image")
    [[ "$url" == https://*.png ]] || fail "screenshot address is not an https PNG: $url"
done <<<"$images"
finish
