#!/bin/sh
# Builds the address.dat reader with libFuzzer and AddressSanitizer and runs it.
#   tests/fuzz/run-address-fuzz.sh [seconds]   (default 600)
# The corpus starts from the written forms of a few lists (seeds/address_file/) and grows in
# build-fuzz/corpus; a finding is written to build-fuzz/ as crash-*, leak-* or timeout-*.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=${FUZZ_OUT:-$root/build-fuzz}
seconds=${1:-600}
mkdir -p "$out/corpus"

clang++ -std=c++20 -g -O1 -fPIC -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root" $(pkg-config --cflags Qt6Core) \
    "$here/AddressFileFuzz.cpp" "$root/settings/AddressFile.cpp" "$root/platform/CodePage.cpp" \
    "$root/platform/AtomicFile.cpp" \
    $(pkg-config --libs Qt6Core) -o "$out/address_fuzz"

cp -n "$here"/seeds/address_file/* "$out/corpus/" 2>/dev/null || true
cd "$out"
exec ./address_fuzz -max_total_time="$seconds" -max_len=4096 -timeout=5 -rss_limit_mb=1024 \
    -dict="$here/address_file.dict" corpus
