#!/usr/bin/env bash
# Makes the printable copies of the update barcode, for a production line to
# print and keep at each station: the same command as barcode.bmp (the
# window's picture), from barcode_command.txt.
#
#   update-barcode.png  648 x 648 pixels at 600 dpi: 14 x 14 modules of 36
#                       pixels (1.52 mm) inside a white margin of two modules,
#                       27.4 mm square when printed at 100 %
#   update-barcode.svg  the same modules as squares of a 27.4 mm drawing,
#                       for printing at any size
#
# Needs dmtx-utils and ImageMagick (apt-get install dmtx-utils imagemagick).
# Run by hand; the files are committed beside it and a test decodes them.
set -euo pipefail
cd "$(dirname "$0")"

for tool in dmtxwrite dmtxread convert; do
    command -v "$tool" >/dev/null || {
        echo "make_print_barcode.sh: needs $tool (apt-get install dmtx-utils imagemagick)" >&2
        exit 1
    }
done

command=$(<barcode_command.txt)
modules=14 margin=2 pixels=36 dpi=600
side=$((modules + 2 * margin))

printf '%s' "$command" | dmtxwrite --encoding=a --symbol-size=${modules}x${modules} \
    --module=$pixels --margin=$((margin * pixels)) --resolution=$dpi --output=update-barcode.png

# One sample a module gives the symbol's matrix, margin included; each dark
# module becomes a unit square of the drawing.
millimetres=$(awk -v n=$side -v p=$pixels -v d=$dpi 'BEGIN { printf "%.2f", n * p / d * 25.4 }')
{
    echo '<?xml version="1.0" encoding="UTF-8"?>'
    echo "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"${millimetres}mm\" height=\"${millimetres}mm\" viewBox=\"0 0 $side $side\" shape-rendering=\"crispEdges\">"
    echo '<title>Update barcode: scan with the imager to enter update mode</title>'
    echo "<rect width=\"$side\" height=\"$side\" fill=\"#fff\"/>"
    convert update-barcode.png -sample ${side}x${side} txt:- |
        awk -F'[,: ]+' '/gray\(0\)|#000000/ { path = path sprintf("M%d %dh1v1h-1z", $1, $2) }
                        END { print "<path fill=\"#000\" d=\"" path "\"/>" }'
    echo '</svg>'
} >update-barcode.svg

# Both read back: the PNG as it is, the drawing's squares drawn again as a
# bitmap (ImageMagick here has no SVG reader of its own).
redrawn=$(mktemp --suffix=.png)
trap 'rm -f "$redrawn"' EXIT
grep -o 'M[0-9]* [0-9]*h' update-barcode.svg | tr -d 'Mh' |
    awk -v n=$side '{ dark[$1 "," $2] = 1 }
        END { print "P1"; print n, n
              for (y = 0; y < n; y++) { for (x = 0; x < n; x++) printf "%d ", (x "," y) in dark; print "" } }' |
    convert pbm:- -scale 1000% "$redrawn"
for file in update-barcode.png "$redrawn"; do
    decoded=$(dmtxread "$file")
    if [[ "$decoded" != "$command" ]]; then
        echo "make_print_barcode.sh: $file reads '$decoded', not '$command'" >&2
        exit 1
    fi
done
echo "make_print_barcode.sh: wrote update-barcode.png and update-barcode.svg ($command)"
