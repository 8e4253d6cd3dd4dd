# Sourced by the imaging benchmark scripts: builds imaging_bench in BUILD_DIR (the
# script's first argument, build/ by default), takes ROUNDS (its second, 7 by default)
# and makes a scratch folder $work that is removed on exit. TOOL_VERSION is the compared
# tool's version line for the machine line (a sourced file sees no arguments of its own).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_ARG:-$root/build}
rounds=${ROUNDS_ARG:-7}

cmake --build "$build" -j2 --target imaging_bench >/dev/null
bench=$build/bench/imaging_bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores; $TOOL_VERSION"
