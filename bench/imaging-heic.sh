#!/bin/sh
# Times kelvo's drop to preview of a 12-megapixel HEIC photo (libheif decode, fit to 95
# dots) beside libheif's own heif-convert writing the same picture to a file, in the same
# run: to a raw YCbCr .y4m file (decode alone, no conversion to RGB) and to a JPEG. Then the
# refusal of a lying grid (bench/lying-grid.py: 2 x 2 tiles of 512 x 512 claiming 512 x
# 512, on a canvas of 20000 x 20000) against the drop of the photo, interleaved. The HEIC
# files are made here by heif-enc from generated photos (this takes a while).
#
#   bench/imaging-heic.sh [BUILD_DIR] [ROUNDS]
BUILD_ARG=${1:-} ROUNDS_ARG=${2:-}
TOOL_VERSION=$(heif-convert --help 2>&1 | head -1 | sed 's/^ *//')
. "$(dirname "$0")/imaging-common.sh"
"$bench" gen 4000 3000 "$work/photo-12mp.jpg"
heif-enc -q 90 -o "$work/photo-12mp.heic" "$work/photo-12mp.jpg" >/dev/null
echo "wrote $work/photo-12mp.heic: $(stat -c %s "$work/photo-12mp.heic") bytes"
"$bench" gen 512 512 "$work/tile.jpg" >/dev/null
heif-enc -q 90 -o "$work/tile.heic" "$work/tile.jpg" >/dev/null
"$root/bench/lying-grid.py" "$work/tile.heic" "$work/lying-grid.heic"
echo "wrote $work/lying-grid.heic: $(stat -c %s "$work/lying-grid.heic") bytes"
"$bench" run -r "$rounds" "$work/photo-12mp.heic"
"$bench" compare -r "$rounds" "$work/lying-grid.heic" "$work/photo-12mp.heic"
