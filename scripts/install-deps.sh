#!/usr/bin/env bash
# Installs the Debian packages RomPush needs to build, test and run; does nothing when they
# are already there.
set -euo pipefail

# srecord: srec_cat writes the HEX files the tests read. clang with libclang-rt-dev (its
# libFuzzer and sanitizer runtimes): the fuzz build of the HEX reader. xvfb, xdotool,
# imagemagick and python3: the test that drives the real window and checks the device's flash.
# desktop-file-utils: the check of the menu entry. dpkg-dev and file: the Debian package.
packages=(build-essential cmake pkg-config qt6-base-dev libgl1-mesa-dev libgtest-dev
          xvfb xauth x11-apps x11-utils xdotool imagemagick python3 srecord clang libclang-rt-dev
          desktop-file-utils dpkg-dev file)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
