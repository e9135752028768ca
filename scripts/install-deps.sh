#!/usr/bin/env bash
# Installs the Debian packages the panel needs to build, run and test, when they are missing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-multimedia-dev qt6-svg-dev
    qt6-qpa-plugins
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly
    fonts-wqy-microhei
    qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
    # The Latin font the English captions are checked against (tests/app/tst_language).
    fonts-dejavu-core
)
# The audio files people have: GSM 6.10 and ADPCM WAV, AIFF ("bad" set), AAC/M4A, WMA
# and the rest (libav); the GStreamer headers to ask its registry which decoders exist.
packages+=(gstreamer1.0-plugins-bad gstreamer1.0-libav libgstreamer1.0-dev)
# Files are decoded whole with libsndfile (WAV in every common encoding, FLAC, Ogg, MP3) and
# played through the sound server with libpulse (the sound tests' server is listed below).
packages+=(libsndfile1-dev libpulse-dev)
# Tools the tests and benchmarks use to make audio files and watch the window: sox and lame,
# and GStreamer's gst-launch-1.0 with an AAC encoder (gstreamer1.0-libav) for .m4a files.
packages+=(sox lame gstreamer1.0-tools)
# Tools the packaging tests use: menu entry and metainfo validators, dpkg-shlibdeps for the .deb.
packages+=(desktop-file-utils appstream dpkg-dev)
# clang with its sanitizer and libFuzzer runtimes, for the fuzz preset (make fuzz).
packages+=(clang libclang-rt-14-dev)

# The sound tests and benchmark: a private PulseAudio server with a null sink, parec to
# capture its monitor, libpulse's simple API to play at a time the server names, GStreamer's
# pulsesink (plugins-good) for the players, espeak-ng for speech prompts.
packages+=(pulseaudio pulseaudio-utils libpulse-dev espeak-ng)

# Firmware compilers the exported C header is compiled with (tests/plan/header): sdcc for
# the 8051 family and avr-gcc with its C library for AVR.
packages+=(sdcc gcc-avr avr-libc)

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
