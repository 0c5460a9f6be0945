#!/bin/sh
# Regenerates the pictures in this folder from brisko.svg and brisko-icon.svg.
# Needs rsvg-convert (librsvg2-bin) and ImageMagick's convert.
set -eu
cd "$(dirname "$0")"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT INT TERM

# Side picture: opaque, 24-bit colour, as binary PPM, which the window decodes far faster than
# PNG at start-up (the resource compiler compresses it).
picture() { # size-suffix width height
    rsvg-convert -w "$2" -h "$3" -o "$tmp/picture.png" brisko.svg
    convert "$tmp/picture.png" -background '#000' -alpha remove -alpha off \
        -strip -depth 8 PPM:"brisko$1.ppm"
}
picture "" 165 338
picture "@2x" 330 676

# Icon: square, with alpha.
mkdir -p icons
for s in 16 32 48 64 128 256; do
    rsvg-convert -w "$s" -h "$s" -o "icons/$s.png" brisko-icon.svg
done
# The window's own icon at the sizes a window manager asks for, as plain RGBA bytes that need
# no decoder at start-up; the PNGs above go to the desktop's icon theme.
for s in 16 32 48 64; do
    convert "icons/$s.png" -depth 8 "RGBA:icons/$s.rgba"
done
# The program file's icon on Windows, in the sizes Explorer shows.
convert icons/16.png icons/32.png icons/48.png icons/256.png brisko.ico
