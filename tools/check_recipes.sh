#!/usr/bin/env bash
# Checks the "Making a sheet" recipes of the README: each writer turns a
# black-on-white PNG drawing of the bundled sample sheet into a BMP sheet,
# and sheetcut must make the same font of it as of the bundled sheet.
# Needs ImageMagick, Pillow (python3-pil) and GIMP; a missing one is skipped.
#   tools/check_recipes.sh [SHEETCUT]
set -uo pipefail
cd "$(dirname "$0")/.."
sheetcut=${1:-build/sheetcut}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
options=(-s8,16 -c20,7e -o0,5e)
"$sheetcut" "${options[@]}" examples/terminus-8x16.bmp "$work/expected.fnt" || exit 1
status=0

check() {  # NAME SHEET
    if "$sheetcut" "${options[@]}" "$2" "$work/$1.fnt" && cmp -s "$work/expected.fnt" "$work/$1.fnt"; then
        echo "$1: ok"
    else
        echo "$1: FAILED"
        status=1
    fi
}

if command -v convert >/dev/null && convert -version 2>/dev/null | grep -q ImageMagick; then
    convert examples/terminus-8x16.bmp -type TrueColor "$work/drawing.png"
    # The recipe: 256 greys to map onto give an 8-bit palette; negating puts
    # the background on black, which ImageMagick sorts to index 0.
    convert -size 256x1 gradient:black-white "$work/greys.png"
    convert "$work/drawing.png" -colorspace Gray -threshold 50% -negate \
        -dither None -remap "$work/greys.png" -compress None "BMP3:$work/imagemagick.bmp"
    check imagemagick "$work/imagemagick.bmp"
else
    echo "imagemagick: skipped (not installed)"
fi

if python3 -c "import PIL" 2>/dev/null; then
    python3 - "$work" <<'PY'
import sys
from PIL import Image
work = sys.argv[1]
Image.open("examples/terminus-8x16.bmp").convert("RGB").save(f"{work}/drawing-pil.png")
# The recipe: index 0 white background, index 1 black ink.
drawing = Image.open(f"{work}/drawing-pil.png").convert("L")
ink = drawing.point(lambda v: 1 if v < 128 else 0)
sheet = Image.frombytes("P", drawing.size, ink.tobytes())
sheet.putpalette([255, 255, 255, 0, 0, 0] + [0, 0, 0] * 254)
sheet.save(f"{work}/pillow.bmp")
PY
    check pillow "$work/pillow.bmp"
else
    echo "pillow: skipped (not installed)"
fi

if command -v gimp >/dev/null; then
    python3 -c "from PIL import Image; Image.open('examples/terminus-8x16.bmp').convert('RGB').save('$work/drawing-gimp.png')" 2>/dev/null ||
        convert examples/terminus-8x16.bmp -type TrueColor "$work/drawing-gimp.png"
    (cd "$work" && timeout 600 gimp -i -n -d -f -b - >/dev/null 2>&1) <<'SCM'
(let* ((image (car (gimp-file-load RUN-NONINTERACTIVE "drawing-gimp.png" "drawing-gimp.png")))
       (palette (car (gimp-palette-new "sheetcut-bw"))))
  (if (= (car (gimp-image-base-type image)) GRAY) (gimp-image-convert-rgb image))
  (gimp-image-flatten image)
  (gimp-drawable-threshold (car (gimp-image-get-active-drawable image)) HISTOGRAM-VALUE 0.5 1.0)
  (gimp-palette-add-entry palette "background" '(255 255 255))
  (let loop ((i 1)) (when (< i 256) (gimp-palette-add-entry palette "ink" '(0 0 0)) (loop (+ i 1))))
  (gimp-image-convert-indexed image CONVERT-DITHER-NONE CONVERT-PALETTE-CUSTOM 0 FALSE FALSE palette)
  (file-bmp-save2 RUN-NONINTERACTIVE image (car (gimp-image-get-active-drawable image))
                  "gimp.bmp" "gimp.bmp" 0 1 0)
  (gimp-palette-delete palette)
  (gimp-quit 0))
SCM
    check gimp "$work/gimp.bmp"
else
    echo "gimp: skipped (not installed)"
fi
exit $status
