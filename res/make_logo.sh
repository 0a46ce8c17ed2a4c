#!/usr/bin/env bash
# Draws the circular-arrows picture and makes from that one drawing:
#   logo.bmp                      IDB_LOGO, 96 x 96, 24-bit
#   icon-256.png icon-48.png icon-32.png icon-16.png and qor-updater.ico
#                                 IDR_MAINFRAME, 24-bit, one size each; the
#                                 256-pixel one is for Windows' large views
#   icon-128.png icon-64.png      the desktop's further icon sizes
#   qor-updater.svg               the same drawing as a scalable icon
# Needs ImageMagick and python3 (apt-get install imagemagick python3). Run by hand; the pictures
# it writes are committed beside it.
set -euo pipefail
cd "$(dirname "$0")"

command -v convert >/dev/null || {
    echo "make_logo.sh: needs ImageMagick's convert (apt-get install imagemagick)" >&2
    exit 1
}

# The drawing is made at four times the logo's size and scaled down, which
# smooths its edges. Two arcs of one circle, each ending in an arrowhead
# that points round the circle, clockwise.
size=384
centre=192
radius=116
stroke=34
colour='#1F6FC5'

# One arrowhead at the end of an arc that ends at `angle` degrees (0 is to
# the right, angles grow clockwise as the y axis points down): a triangle
# whose base crosses the ring there and whose tip lies further on round it.
arrowhead() {
    awk -v a="$1" -v c="$centre" -v r="$radius" -v w="$stroke" 'BEGIN {
        pi = atan2(0, -1)
        base = a * pi / 180
        tip = (a + 32) * pi / 180
        inner = r - w * 1.35
        outer = r + w * 1.35
        printf "polygon %.1f,%.1f %.1f,%.1f %.1f,%.1f",
            c + inner * cos(base), c + inner * sin(base),
            c + outer * cos(base), c + outer * sin(base),
            c + r * cos(tip), c + r * sin(tip)
    }'
}

# One band of the ring from `from` to `to` degrees, clockwise, as a filled
# polygon (outer edge there, inner edge back): the drawing's own arc
# primitives close an arc with its chord.
band() {
    awk -v a="$1" -v b="$2" -v c="$centre" -v r="$radius" -v w="$stroke" 'BEGIN {
        pi = atan2(0, -1)
        steps = 48
        printf "polygon"
        for (i = 0; i <= steps; i++) {
            t = (a + (b - a) * i / steps) * pi / 180
            printf " %.1f,%.1f", c + (r + w / 2) * cos(t), c + (r + w / 2) * sin(t)
        }
        for (i = steps; i >= 0; i--) {
            t = (a + (b - a) * i / steps) * pi / 180
            printf " %.1f,%.1f", c + (r - w / 2) * cos(t), c + (r - w / 2) * sin(t)
        }
    }'
}

drawing=$(mktemp --suffix=.png)
trap 'rm -f "$drawing"' EXIT

convert -size "${size}x${size}" xc:white \
    -stroke none -fill "$colour" \
    -draw "$(band 198 318)" \
    -draw "$(band 18 138)" \
    -draw "$(arrowhead 318)" \
    -draw "$(arrowhead 138)" \
    "$drawing"

# The scalable icon: the same polygons on the same white square.
{
    printf '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">\n' \
        "$size" "$size" "$size" "$size"
    printf '  <rect width="%d" height="%d" fill="#FFFFFF"/>\n' "$size" "$size"
    for shape in "$(band 198 318)" "$(band 18 138)" "$(arrowhead 318)" "$(arrowhead 138)"; do
        printf '  <polygon fill="%s" points="%s"/>\n' "$colour" "${shape#polygon }"
    done
    printf '</svg>\n'
} >qor-updater.svg

convert "$drawing" -resize 96x96 -alpha off -type TrueColor BMP3:logo.bmp
for icon in 256 128 64 48 32 16; do
    convert "$drawing" -resize "${icon}x${icon}" -alpha off -type TrueColor \
        "PNG24:icon-${icon}.png"
done

# The icon group for the Windows resource script. ImageMagick writes icon
# entries with an alpha channel (32-bit); the group is 24-bit, so its
# entries are put together here from 24-bit bitmaps: each is the bitmap's
# pixel rows under a header of doubled height, then an all-clear AND mask.
bitmaps=()
for icon in 256 48 32 16; do
    bitmap=$(mktemp --suffix=.bmp)
    bitmaps+=("$bitmap")
    convert "icon-${icon}.png" -alpha off -type TrueColor "BMP3:$bitmap"
done
trap 'rm -f "$drawing" "${bitmaps[@]}"' EXIT
python3 - qor-updater.ico "${bitmaps[@]}" <<'PYTHON'
import struct
import sys

output, bitmaps = sys.argv[1], sys.argv[2:]
entries = []
for path in bitmaps:
    data = open(path, "rb").read()
    pixels_at = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    assert struct.unpack_from("<H", data, 28)[0] == 24 and height > 0
    row = (width * 3 + 3) // 4 * 4
    xor = data[pixels_at:pixels_at + row * height]
    mask = bytes((width + 31) // 32 * 4 * height)
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 24, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    entries.append((width, height, header + xor + mask))

offset = 6 + 16 * len(entries)
with open(output, "wb") as ico:
    ico.write(struct.pack("<HHH", 0, 1, len(entries)))
    for width, height, image in entries:
        ico.write(struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 24,
                              len(image), offset))
        offset += len(image)
    for _, _, image in entries:
        ico.write(image)
PYTHON
echo "make_logo.sh: wrote logo.bmp, icon-{256,128,64,48,32,16}.png, qor-updater.ico, qor-updater.svg"
