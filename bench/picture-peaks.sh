#!/bin/sh
# The peak memory of one drop of the largest picture each reader takes, in a process that does nothing else
# (imaging_bench peak): a 200-megapixel baseline JPEG, progressive JPEG, 8-bit PNG, WebP and bitmap, the largest
# 16-bit PNG (bench/big-pictures.py), and a 12-megapixel HEIC photo (heif-enc takes too long for a larger one). The
# figures of imaging/Picture.h. Needs about 4 GB of memory and 1.5 GB in the temporary folder.
#
#   bench/picture-peaks.sh [BUILD_DIR]
BUILD_ARG=${1:-} ROUNDS_ARG=1
TOOL_VERSION="libjpeg-turbo $(dpkg-query -W -f='${Version}' libjpeg62-turbo), Qt $(dpkg-query -W -f='${Version}' libqt6gui6)"
. "$(dirname "$0")/imaging-common.sh"
"$bench" gen 16320 12240 "$work/baseline-200mp.jpg" >/dev/null
"$root/bench/big-pictures.py" "$work"
"$bench" gen 4000 3000 "$work/photo-12mp.jpg" >/dev/null
heif-enc -q 90 -o "$work/photo-12mp.heic" "$work/photo-12mp.jpg" >/dev/null
for file in baseline-200mp.jpg progressive-200mp.jpg png8-200mp.png png16-148mp.png webp-200mp.webp bmp-200mp.bmp \
    photo-12mp.heic; do
    "$bench" peak "$work/$file" || echo "$file: refused"
done
