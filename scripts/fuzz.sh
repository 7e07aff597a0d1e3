#!/usr/bin/env bash
# Longer fuzzing than the test command does: every fuzz target for
# VELMOR_FUZZ_SECONDS (default 600) seconds each.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup-deps.sh" test
build="${VELMOR_FUZZ_BUILD_DIR:-$root/build-sanitize}"
VELMOR_BUILD_DIR="$build" "$root/scripts/build.sh" \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DVELMOR_SANITIZE=ON -DVELMOR_BUILD_FUZZ=ON -DVELMOR_BUILD_BENCH=OFF \
    -DVELMOR_FUZZ_SECONDS="${VELMOR_FUZZ_SECONDS:-600}"
cd "$build"
ctest -L fuzz --output-on-failure
