#!/bin/sh
# Builds the colour description reader (imaging/ColourProfile, LittleCMS behind it) with
# libFuzzer and AddressSanitizer and runs it.
#   tests/fuzz/run-colour-profile-fuzz.sh [seconds]   (default 600)
# The corpus starts from small profiles and descriptions of every kind (seeds/colour-profile/)
# and grows in build-fuzz/colour-profile-corpus; a finding is written to build-fuzz/ as
# crash-*, leak-*, oom-* or timeout-*. -malloc_limit_mb makes any single allocation above
# 64 MB a finding.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=${FUZZ_OUT:-$root/build-fuzz}
seconds=${1:-600}
mkdir -p "$out/colour-profile-corpus"

clang++ -std=c++20 -g -O1 -fPIC -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root" $(pkg-config --cflags Qt6Gui lcms2) \
    "$here/ColourProfileFuzz.cpp" "$root/imaging/ColourProfile.cpp" "$root/imaging/ColourEngine.cpp" \
    "$root/imaging/Picture.cpp" "$root/platform/RegularFile.cpp" \
    $(pkg-config --libs Qt6Gui lcms2 zlib) -o "$out/colour_profile_fuzz"

cp -n "$here"/seeds/colour-profile/* "$out/colour-profile-corpus/" 2>/dev/null || true
cd "$out"
exec ./colour_profile_fuzz -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=1024 \
    -malloc_limit_mb=64 -print_final_stats=1 -dict="$here/colour-profile.dict" colour-profile-corpus
