#!/bin/sh
# Benchmarks: figures printed, nothing asserted. Run from the repository root after a build in
# ./build (or BUILD=<dir>).
set -eu
BUILD=${BUILD:-build}

# Memory: the tool while its uploader prints without pause for a few seconds (stays well under 100 MB).
cmake --build "$BUILD" --target nx7_uploader_flood_bench
"$BUILD/tests/update/nx7_uploader_flood_bench" "${FLOOD_SECONDS:-4}"
