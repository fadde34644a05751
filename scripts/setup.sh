#!/usr/bin/env bash
# Installs every Debian package the project needs. Idempotent: only missing
# packages are installed, and they are named before apt-get runs.
set -euo pipefail

PACKAGES=(
    build-essential cmake pkg-config git clang-format
    clang libclang-rt-14-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libsqlite3-dev sqlite3
    qt6-base-dev libqt6opengl6-dev qt6-svg-dev
    libturbojpeg0-dev libjpeg-turbo-progs libpng-dev
    libavcodec-dev libavutil-dev libswscale-dev libx264-dev ffmpeg
    libsdl2-dev libsamplerate0-dev
    libglm-dev libepoxy-dev libegl-dev libgles-dev libgl1-mesa-dri
    xvfb xauth x11-utils iproute2 util-linux dbus-daemon
    libxcb-xinput-dev libxcb-shm0-dev libxcb-xkb-dev libx11-dev libxtst-dev
    dpkg-dev scdoc librsvg2-bin appstream desktop-file-utils
    weston qt6-wayland
    libxext-dev libxdamage-dev libxrandr-dev libxfixes-dev xdotool
    libpulse-dev pulseaudio pulseaudio-utils
)

if [ "$(id -u)" -ne 0 ]; then
    echo "setup: run as root (apt-get install is needed)" >&2
    exit 1
fi

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "setup: all ${#PACKAGES[@]} packages present"
    exit 0
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends "${missing[@]}"
