# shellcheck shell=bash
# Shared by the packaging checks: failures are collected so that one run reports them all.
failures=0

fail()
{
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

finish()
{
    if [ "$failures" -ne 0 ]; then
        echo "$failures check(s) failed" >&2
        exit 1
    fi
    echo "all checks passed"
}

# Every file an install puts under its prefix, relative to the prefix; the .deb leaves out the
# program's own copy of its font (any second argument).
expected_files()
{
    local app_id=$1 without_font=${2:-}
    {
        if [ -z "$without_font" ]; then
            for file in LiberationSans-Regular.ttf LiberationSans-Bold.ttf LICENSE; do
                echo "share/brisko-calculator/fonts/$file"
            done
        fi
        echo "bin/brisko-calculator"
        echo "share/man/man1/brisko-calculator.1.gz"
        echo "share/doc/brisko-calculator/copyright"
        echo "share/doc/brisko-calculator/changelog.gz"
        echo "share/applications/$app_id.desktop"
        echo "share/metainfo/$app_id.metainfo.xml"
        echo "share/icons/hicolor/scalable/apps/$app_id.svg"
        for size in 16 32 48 64 128 256; do
            echo "share/icons/hicolor/${size}x${size}/apps/$app_id.png"
        done
    } | sort
}

# The value of KEY in the [Desktop Entry] group of a launcher.
desktop_key()
{
    sed -n "/^\[Desktop Entry\]/,/^\[/s/^$2=//p" "$1"
}
