#!/usr/bin/env bash
# Installs the Debian packages the panel needs to build, run and test, when they are missing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-multimedia-dev qt6-svg-dev
    qt6-qpa-plugins
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly
    fonts-wqy-microhei
)
# Tools the tests and benchmarks use to make audio files and watch the window.
packages+=(sox lame)
# Tools the packaging tests use: menu entry and metainfo validators, dpkg-shlibdeps for the .deb.
packages+=(desktop-file-utils appstream dpkg-dev)
# clang with its sanitizer and libFuzzer runtimes, for the fuzz preset (make fuzz).
packages+=(clang libclang-rt-14-dev)

# The command-line benchmark's reference: the same exchange through pyserial.
packages+=(python3-serial)

# The start-up benchmark maps real windows on an X server of its own.
packages+=(xvfb libxcb1-dev)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null | grep -qx installed; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
