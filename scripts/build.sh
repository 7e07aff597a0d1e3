#!/usr/bin/env bash
# Configures and builds Velmor into build/ (or $VELMOR_BUILD_DIR).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VELMOR_BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
# VELMOR_TARGETS (space-separated) limits the build to those targets.
targets=()
for t in ${VELMOR_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$build" -j "$(nproc)" "${targets[@]}"
