#!/usr/bin/env bash
# Installs what is missing, builds, starts the bundled music service on
# loopback and opens the player on it. Without a display the player opens
# on a virtual one (Xvfb).
#
#   bash scripts/run.sh --library ~/Music [--library DIR2 ...]
#   VELMOR_LIBRARY=~/Music bash scripts/run.sh
# serve your own music folders instead of the built-in catalogue (the
# options before the player's own; the first scan runs in the background).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
library_args=()
[ -n "${VELMOR_LIBRARY:-}" ] && library_args+=(--library "$VELMOR_LIBRARY")
while [ $# -gt 0 ]; do
    case "$1" in
        --library) [ $# -ge 2 ] || { echo "--library needs a folder" >&2; exit 2; }
                   library_args+=(--library "$2"); shift 2 ;;
        --library=*) library_args+=(--library "${1#--library=}"); shift ;;
        *) break ;;
    esac
done
# A mistyped folder would otherwise give an empty library without a word.
for ((i = 1; i < ${#library_args[@]}; i += 2)); do
    [ -d "${library_args[i]}" ] || { echo "No such music folder: ${library_args[i]}" >&2; exit 2; }
done
"$root/scripts/setup-deps.sh" run
VELMOR_TARGETS="velmor velmor-musicd velmor-cli" "$root/scripts/build.sh"
build="${VELMOR_BUILD_DIR:-$root/build}"
port="${VELMOR_PORT:-$(grep -E '^VELMOR_DEFAULT_PORT:' "$build/CMakeCache.txt" | cut -d= -f2)}"

url="http://127.0.0.1:$port"
started_service=
if [ ${#library_args[@]} -gt 0 ] && curl -fsS -o /dev/null "$url/app/search/searchList.php?qword=a" 2>/dev/null; then
    echo "A music service already runs on port $port; stop it or set VELMOR_PORT to serve the library." >&2
    exit 1
fi
if ! curl -fsS -o /dev/null "$url/app/search/searchList.php?qword=a" 2>/dev/null; then
    if [ ${#library_args[@]} -gt 0 ]; then
        echo "Serving the music library (scan progress: ${TMPDIR:-/tmp}/velmor-musicd.log)"
    fi
    "$build/musicd/velmor-musicd" --port "$port" "${library_args[@]}" > "${TMPDIR:-/tmp}/velmor-musicd.log" 2>&1 &
    started_service=$!
    for _ in $(seq 1 100); do
        curl -fsS -o /dev/null "$url/app/search/searchList.php?qword=a" 2>/dev/null && break
        sleep 0.1
    done
fi
cleanup() { [ -n "$started_service" ] && kill "$started_service" 2>/dev/null || true; }
trap cleanup EXIT

echo "Music service: $url"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: opening the player on a virtual display (Xvfb)."
    xvfb-run -a -s "-screen 0 1280x800x24" "$build/app/velmor" --service "$url" "$@"
else
    "$build/app/velmor" --service "$url" "$@"
fi
