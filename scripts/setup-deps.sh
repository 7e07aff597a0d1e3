#!/usr/bin/env bash
# Installs the Debian 12 packages Velmor needs to build, run and test.
# Idempotent: only what is missing is installed.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config git curl ca-certificates
    qt6-base-dev qt6-base-dev-tools libgl-dev libxkbcommon-dev
    libmpv-dev libcpp-httplib-dev
    libgtest-dev libbenchmark-dev
    clang libclang-rt-14-dev
    xvfb xauth x11-utils xdotool imagemagick
    fonts-noto-cjk mpv
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -q
    $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
