#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite twice: a normal build (g++) and
# a sanitizer build (clang, AddressSanitizer + UndefinedBehaviorSanitizer, with the fuzzers).
# Usage: scripts/test.sh [--quick]   (--quick: the normal build only)
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

quick=0
[ "${1:-}" = "--quick" ] && quick=1

nx7_install_packages
cd "$NX7_ROOT"

export QT_QPA_PLATFORM=offscreen
jobs="$(nproc 2>/dev/null || echo 2)"

echo "== Normal build"
nx7_build build -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=g++
(cd build && ctest --output-on-failure -j "$jobs" -LE "bench|fuzz|windows")

if [ "$quick" -eq 0 ]; then
    echo "== Sanitizer build (ASan + UBSan)"
    nx7_build build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DNX7_SANITIZE=ON -DNX7_FUZZ=ON \
        -DNX7_BUILD_BENCHMARKS=OFF
    # Leak reports from the system's GUI libraries are not ours to fix; memory errors and undefined
    # behaviour still fail the run.
    export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    (cd build-asan && ctest --output-on-failure -j "$jobs" -LE "bench|windows")
fi
