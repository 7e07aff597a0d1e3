#!/usr/bin/env bash
# The smoke test of the real player on a virtual display (Xvfb): builds,
# runs it, and says where the screenshots of the playing window are.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VELMOR_BUILD_DIR:-$root/build}"
"$root/scripts/setup-deps.sh"
"$root/scripts/build.sh"
cd "$build"
QT_QPA_PLATFORM=offscreen VELMOR_AUDIO_OUTPUT=null ctest -R '^Smoke\.' --output-on-failure
echo "Screenshots: $build/tests/hardening/smoke-*.png"
