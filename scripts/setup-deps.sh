#!/usr/bin/env bash
# Installs the Debian 12 packages Velmor needs. Idempotent: only what is
# missing is installed.
#   setup-deps.sh run    what building and running the player needs
#   setup-deps.sh test   that, plus the test, benchmark and packaging tools
# Without an argument everything is installed (as for "test").
set -euo pipefail

# Building and running: compilers, Qt, the playback libraries (libmpv,
# FFmpeg's, PulseAudio's, libmpg123 and libsndfile: headers to build, opened
# at run time), the HTTP libraries (cpp-httplib for the tests' clients and
# servers, libmicrohttpd for velmor-musicd), zlib (downloads sent compressed), the fonts of the Chinese
# interface (and fonttools, which cuts the window's own font from them), Qt's
# own Chinese texts for its dialogs, and the virtual display run.sh opens the
# player on when there is no display.
run_packages=(
    build-essential cmake ninja-build pkg-config curl ca-certificates
    qt6-base-dev qt6-base-dev-tools libgl-dev libxkbcommon-dev
    libmpv-dev libcpp-httplib-dev libmicrohttpd-dev zlib1g-dev
    libavformat-dev libavcodec-dev libswresample-dev libavutil-dev libpulse-dev
    libmpg123-dev libsndfile1-dev
    libtag1-dev libsqlite3-dev
    fonts-noto-cjk fonttools qt6-translations-l10n
    xvfb xauth
)

# Tests, sanitizers, fuzzing, benchmarks and the package checks; the tests
# of the desktop's media-player interface run a session bus of their own and
# drive the player with playerctl as well. The toolkit's private headers let
# a test switch accessibility on, as a screen reader does, to catch the
# events the playlist sends. A private sound server (with a null sink and its
# recorder) lets a test hear what the player sends to it. The window tests
# on the virtual display start a small window manager (openbox) where a
# desktop would have one, and draw Arabic and Hebrew titles (DejaVu). The
# Subsonic face of the service is driven by a GTK client's own adapter
# (sublime-music) and its XML answers are checked with xmllint. The
# library benchmark at scale runs mpd beside the service and plots the two.
# The https tests make their servers' certificates with the openssl tool
# (and cpp-httplib's https server needs OpenSSL's headers).
test_packages=(
    git
    libgtest-dev libbenchmark-dev
    clang libclang-rt-14-dev
    x11-utils xdotool openbox fonts-dejavu-core imagemagick mpv libxcb1-dev
    lame flac vorbis-tools opus-tools ffmpeg
    appstream lintian desktop-file-utils dpkg-dev fakeroot file
    dbus-daemon dbus-bin playerctl
    qt6-base-private-dev
    pulseaudio pulseaudio-utils
    sublime-music libxml2-utils
    mpd python3-matplotlib
    openssl libssl-dev
)

group="${1:-test}"
case "$group" in
    run) packages=("${run_packages[@]}") ;;
    test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
    *)
        echo "usage: $0 [run|test]" >&2
        exit 2
        ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get -o DPkg::Lock::Timeout=600 update -q
    $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "${missing[@]}"
fi

# The Subsonic client test runs an npm package under Node.js: Debian's node
# and npm where the machine has neither, then the exact versions of its
# package-lock.json (again only when the lock changed since the last one).
if [ "$group" = test ]; then
    if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
        if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
        export DEBIAN_FRONTEND=noninteractive
        $SUDO apt-get -o DPkg::Lock::Timeout=600 update -q
        $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends nodejs npm
    fi
    client="$(cd "$(dirname "$0")/.." && pwd)/tests/musicd/subsonic-client"
    if ! cmp -s "$client/package-lock.json" "$client/node_modules/.velmor-lock"; then
        (cd "$client" && npm ci --no-audit --no-fund --loglevel=error)
        cp "$client/package-lock.json" "$client/node_modules/.velmor-lock"
    fi
fi
