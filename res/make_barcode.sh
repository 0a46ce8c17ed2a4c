#!/usr/bin/env bash
# Makes barcode.bmp (IDB_BARCODE): the Data Matrix symbol that the imager
# reads as its command to enter update mode, shown in USB mode for the user
# to scan. The command text is in barcode_command.txt, the one place it is
# kept; it belongs to the imager's own command set, so change it only
# together with the imager's firmware.
#
# The picture: 96 x 96 pixels, 24-bit, white; an ECC 200 symbol of 14 x 14
# modules, 5 x 5 pixels each, its top-left corner at (12, 10). Seven
# characters in ASCII mode are seven codewords and one pad, exactly the
# eight data codewords of a 14 x 14 symbol (a pair of digits would pack into
# one codeword and change that).
#
# Needs dmtx-utils and ImageMagick (apt-get install dmtx-utils imagemagick).
# Run by hand; the picture is committed beside it and a test decodes it.
set -euo pipefail
cd "$(dirname "$0")"

for tool in dmtxwrite dmtxread convert; do
    command -v "$tool" >/dev/null || {
        echo "make_barcode.sh: needs $tool (apt-get install dmtx-utils imagemagick)" >&2
        exit 1
    }
done

command=$(<barcode_command.txt)
if [[ ! "$command" =~ ^[\ -~]{7}$ ]] || [[ "$command" =~ [0-9][0-9] ]]; then
    echo "make_barcode.sh: the command must be 7 printable ASCII characters" \
        "with no two digits in a row, not '$command'" >&2
    exit 1
fi

symbol=$(mktemp --suffix=.png)
trap 'rm -f "$symbol"' EXIT

# dmtxwrite draws at least one pixel of margin; shaving it leaves the bare
# 70 x 70 symbol.
printf '%s' "$command" | dmtxwrite --encoding=a --symbol-size=14x14 --module=5 --margin=1 \
    --output="$symbol"
convert -size 96x96 xc:white \( "$symbol" -shave 1x1 \) -geometry +12+10 -composite \
    -type TrueColor BMP3:barcode.bmp

# BMP rows are stored bottom-up; read the result back to be sure it holds.
decoded=$(dmtxread barcode.bmp)
if [[ "$decoded" != "$command" ]]; then
    echo "make_barcode.sh: barcode.bmp reads '$decoded', not '$command'" >&2
    exit 1
fi
echo "make_barcode.sh: wrote barcode.bmp ($command)"
