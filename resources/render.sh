#!/bin/sh
# Regenerates the pictures in this folder from brisko.svg and brisko-icon.svg.
# Needs rsvg-convert (librsvg2-bin), ImageMagick's convert and python3.
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
# The window's own icon at the sizes a window manager asks for, as raw bytes that need neither a
# decoder nor a conversion at start-up: the pixels premultiplied by their alpha, rounded as Qt
# rounds, in the byte order of a little-endian ARGB32 word, which is how a pixmap holds them.
# The PNGs above go to the desktop's icon theme.
for s in 16 32 48 64; do
    convert "icons/$s.png" -depth 8 "RGBA:$tmp/icon.rgba"
    python3 - "$tmp/icon.rgba" "icons/$s.argb" <<'PREMULTIPLY'
import sys
data = open(sys.argv[1], 'rb').read()
out = bytearray(len(data))
for i in range(0, len(data), 4):
    r, g, b, a = data[i:i + 4]
    def times_alpha(c):
        t = c * a
        return (t + (t >> 8) + 0x80) >> 8
    out[i:i + 4] = bytes((times_alpha(b), times_alpha(g), times_alpha(r), a))
open(sys.argv[2], 'wb').write(out)
PREMULTIPLY
done
# The program file's icon on Windows, in the sizes Explorer shows.
convert icons/16.png icons/32.png icons/48.png icons/256.png brisko.ico
