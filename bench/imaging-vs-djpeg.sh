#!/bin/sh
# Times kelvo's drop to preview (JPEG decode, turn upright, fit to 95 dots) beside
# `djpeg -bmp` on the same 12- and 24-megapixel photos, in the same run, and the encoding
# under the carriers' limits. The 12-megapixel photo is timed again with an EXIF
# orientation of 6 (a phone held upright), which must cost no more, and tagged with a
# Display P3 profile against the untagged one, interleaved (its colours converted to sRGB
# after the fit must cost no measurable time). The photos are generated here (nothing big
# is kept in the tree).
#
#   bench/imaging-vs-djpeg.sh [BUILD_DIR] [ROUNDS]
BUILD_ARG=${1:-} ROUNDS_ARG=${2:-}
. "$(dirname "$0")/imaging-common.sh" "$(djpeg -version 2>&1 | head -1)"
"$bench" gen 4000 3000 "$work/photo-12mp.jpg"
"$bench" gen 4000 3000 "$work/photo-12mp-turned.jpg" 6
"$bench" gen 6000 4000 "$work/photo-24mp.jpg"
"$bench" gen 4000 3000 "$work/photo-12mp-p3.jpg" 1 p3
# One process per file, so that each peak memory figure belongs to its file.
"$bench" run -r "$rounds" "$work/photo-12mp.jpg"
"$bench" run -r "$rounds" "$work/photo-12mp-turned.jpg"
"$bench" run -r "$rounds" "$work/photo-24mp.jpg"
"$bench" compare -r "$rounds" "$work/photo-12mp-p3.jpg" "$work/photo-12mp.jpg"
