#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup-deps.sh"
"$root/scripts/build.sh"
build="${VELMOR_BUILD_DIR:-$root/build}"
cd "$build"
QT_QPA_PLATFORM=offscreen VELMOR_AUDIO_OUTPUT=null ctest --output-on-failure -j "$(nproc)"
