#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: first the whole
# suite under AddressSanitizer + UndefinedBehaviorSanitizer (clang), with
# each fuzz target fuzzing for a short bounded time, then the normal build.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
jobs="$(nproc)"
"$root/scripts/setup-deps.sh" test

export QT_QPA_PLATFORM=offscreen VELMOR_AUDIO_OUTPUT=null

sanitize="${VELMOR_SANITIZE_BUILD_DIR:-$root/build-sanitize}"
if [ "${VELMOR_SKIP_SANITIZE:-0}" != 1 ]; then
    VELMOR_BUILD_DIR="$sanitize" "$root/scripts/build.sh" \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DVELMOR_SANITIZE=ON -DVELMOR_BUILD_FUZZ=ON -DVELMOR_BUILD_BENCH=OFF \
        -DVELMOR_FUZZ_SECONDS="${VELMOR_FUZZ_SECONDS:-10}"
    # Leak checking stays on for the fuzz targets (their own environment);
    # the widget tests would only report the toolkit's and mpv's one-time
    # allocations.
    (cd "$sanitize" && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j "$jobs")
fi

"$root/scripts/build.sh"
cd "${VELMOR_BUILD_DIR:-$root/build}"
ctest --output-on-failure -j "$jobs"
