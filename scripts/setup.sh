#!/usr/bin/env bash
# Installs the Debian packages Vormel needs to build, run and test. Quiet and quick when all of
# them are present; runs apt-get update once otherwise.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    libsdl2-dev libsdl2-image-dev libcairo2-dev libpango1.0-dev
    libsndfile1-dev libopenmpt-dev libsoxr-dev libpulse-dev pulseaudio pulseaudio-utils
    pipewire pipewire-pulse wireplumber dbus-bin
    libgl-dev libgl1-mesa-dri libegl1 libegl-mesa0
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth libx11-dev libxtst-dev libwayland-dev fonts-dejavu-core openbox weston
    libxext-dev libegl-dev libwayland-bin sway grim
    dpkg-dev appstream desktop-file-utils man-db groff-base
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
echo "setup: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
