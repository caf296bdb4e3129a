#!/usr/bin/env bash
# Checks the "Making a sheet" ways of the README. First sheetprep: each
# writer saves the black-on-white PNG drawing of the bundled sample sheet in
# its own forms (its defaults, other depths, RLE, alpha, negatives), and
# sheetprep must make of each a sheet that gives the same font as the
# bundled sheet. Then the recipes by hand: each writer turns the drawing
# into a BMP sheet for sheetcut directly.
# Needs ImageMagick, GraphicsMagick, Pillow (python3-pil) and GIMP; a missing
# one is skipped.
#   tools/check_recipes.sh [SHEETCUT [SHEETPREP]]
set -uo pipefail
cd "$(dirname "$0")/.."
sheetcut=${1:-build/sheetcut}
sheetprep=${2:-build/sheetprep}
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

# sheetprep on what the writers write, the colours as given.
prepped() {  # NAME PICTURE
    if "$sheetprep" "$2" "$work/$1-sheet.bmp" >/dev/null; then
        check "sheetprep $1" "$work/$1-sheet.bmp"
    else
        echo "sheetprep $1: FAILED"
        status=1
    fi
}
drawing=examples/terminus-8x16.png
if command -v convert >/dev/null && convert -version 2>/dev/null | grep -q ImageMagick; then
    for form in "im.bmp" "BMP2:im2.bmp" "BMP3:im3.bmp" "-type Palette BMP3:im-palette.bmp" \
                "-compress RLE -type Palette BMP3:im-rle.bmp" "-colors 16 -compress RLE BMP3:im-rle16.bmp" \
                "-type TrueColor im-24.bmp" "-type TrueColorAlpha im-32.bmp" "-define bmp:subtype=RGB565 im-565.bmp" \
                "-type TrueColorAlpha -define bmp:subtype=ARGB4444 im-4444.bmp" "-type Grayscale im-grey.png" \
                "-depth 16 -type TrueColor im-rgb16.png" "-negate im-negative.png" "-fill red -opaque black im-red.png" \
                "-transparent white im-transparent.png" "-interlace PNG im-interlaced.png"; do
        read -r -a args <<< "$form"
        out=${args[-1]}  # FORMAT:NAME or NAME
        unset 'args[-1]'
        name=${out#*:}
        target="$work/$name"
        [ "$out" != "$name" ] && target="${out%%:*}:$work/$name"
        convert "$drawing" "${args[@]}" "$target" && prepped "$name" "$work/$name"
    done
else
    echo "sheetprep imagemagick: skipped (not installed)"
fi
if command -v gm >/dev/null; then
    gm convert "$drawing" "$work/gm.bmp" && prepped gm.bmp "$work/gm.bmp"
    gm convert "$drawing" -type Palette "$work/gm-palette.bmp" && prepped gm-palette.bmp "$work/gm-palette.bmp"
    gm convert "$drawing" "$work/gm.png" && prepped gm.png "$work/gm.png"
else
    echo "sheetprep graphicsmagick: skipped (not installed)"
fi
if python3 -c "import PIL" 2>/dev/null; then
    python3 - "$work" "$drawing" <<'PY'
import sys
from PIL import Image
work, drawing = sys.argv[1], Image.open(sys.argv[2])
for mode in ("P", "1", "L", "RGB", "RGBA"):
    drawing.convert(mode).save(f"{work}/pil-{mode}.bmp")
    drawing.convert(mode).save(f"{work}/pil-{mode}.png")
PY
    for mode in P 1 L RGB RGBA; do
        prepped "pil-$mode.bmp" "$work/pil-$mode.bmp"
        prepped "pil-$mode.png" "$work/pil-$mode.png"
    done
else
    echo "sheetprep pillow: skipped (not installed)"
fi

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
