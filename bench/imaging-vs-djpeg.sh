#!/bin/sh
# Times kelvo's drop to preview (JPEG decode, turn upright, fit to 95 dots) beside
# `djpeg -bmp` on the same 12- and 24-megapixel photos, in the same run, and the encoding
# under the carriers' limits. The 12-megapixel photo is timed again with an EXIF
# orientation of 6 (a phone held upright), which must cost no more, and tagged with a
# Display P3 profile against the untagged one, interleaved (its colours converted to sRGB
# after the fit must cost no measurable time). Then the peak memory of one drop per
# process, fitted as the rows are decoded and decoded whole, of 12-, 48- and
# 200-megapixel photos, and, where valgrind is installed, the instructions of a drop and
# of djpeg counted by callgrind, which do not scatter with the machine's load. The photos
# are generated here (nothing big is kept in the tree; the 200-megapixel one takes about
# 15 s and 700 MB to make).
#
#   bench/imaging-vs-djpeg.sh [BUILD_DIR] [ROUNDS]
BUILD_ARG=${1:-} ROUNDS_ARG=${2:-}
TOOL_VERSION=$(djpeg -version 2>&1 | head -1)
. "$(dirname "$0")/imaging-common.sh"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$bench" gen 4000 3000 "$work/photo-12mp.jpg"
"$bench" gen 4000 3000 "$work/photo-12mp-turned.jpg" 6
"$bench" gen 6000 4000 "$work/photo-24mp.jpg"
"$bench" gen 4000 3000 "$work/photo-12mp-p3.jpg" 1 p3
# One process per file, so that each peak memory figure belongs to its file.
"$bench" run -r "$rounds" "$work/photo-12mp.jpg"
"$bench" run -r "$rounds" "$work/photo-12mp-turned.jpg"
"$bench" run -r "$rounds" "$work/photo-24mp.jpg"
"$bench" compare -r "$rounds" "$work/photo-12mp-p3.jpg" "$work/photo-12mp.jpg"
echo "load average after the timings: $(cut -d' ' -f1-3 /proc/loadavg)"

echo "== peak memory of one drop, one process each"
"$bench" gen 8000 6000 "$work/photo-48mp.jpg"
"$bench" gen 16320 12240 "$work/photo-200mp.jpg"
for photo in 12mp 12mp-turned 48mp 200mp; do
    "$bench" peak whole "$work/photo-$photo.jpg"
    "$bench" peak "$work/photo-$photo.jpg"
done
rm -f "$work/photo-48mp.jpg" "$work/photo-200mp.jpg"

command -v valgrind >/dev/null || exit 0
echo "== instructions (callgrind): the drop alone, decoded whole then fitted, djpeg -bmp (whole process)"
instructions() {
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null | sed -n 's/.*Collected : //p'
}
for photo in 12mp 12mp-turned 24mp; do
    file=$work/photo-$photo.jpg
    streamed=$(instructions --toggle-collect='LoadPicture*' "$bench" peak "$file")
    whole=$(instructions --toggle-collect='LoadJpeg*' --toggle-collect='FitToSize*' \
        --toggle-collect='ConvertToSrgb*' "$bench" peak whole "$file")
    tool=$(instructions djpeg -bmp -outfile /dev/null "$file")
    awk -v p="$photo" -v s="$streamed" -v w="$whole" -v t="$tool" 'BEGIN {
        printf "%s: streamed %d, whole %d, djpeg %d; ratio %.3f (whole %.3f)\n", p, s, w, t, s / t, w / t }' 
done
