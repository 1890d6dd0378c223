#!/bin/bash
# Installs what building and testing QXUpdate needs on a Debian 12 machine.
# Safe to run any number of times: when everything is present it only asks
# dpkg and returns within a second or two.
set -euo pipefail

# Native build and unit tests (libcrypto checks signatures there), the mingw cross build, Wine (the 32-bit loader
# runs the program), a headless X server, the HTTP server the download tests
# talk to, a CJK font so Chinese is legible in screenshots, the locale sources,
# the Python test harness, screenshot tools and clang for fuzzing.
packages=(
  g++ cmake make libgtest-dev libgmock-dev clang libclang-rt-14-dev libssl-dev
  g++-mingw-w64-i686
  wine wine32:i386 wine64
  xvfb xauth x11-utils imagemagick
  nginx-light openssl curl
  fonts-wqy-microhei
  locales
  python3
)

installed() {
  # dpkg-query prints nothing useful for unknown packages; only "install ok
  # installed" counts.
  [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]
}

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#packages[@]} packages present"
  exit 0
fi

echo "setup: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
timeout 900 $SUDO apt-get update -q
timeout 1800 $SUDO apt-get install -y -q "${missing[@]}"

still=()
for p in "${packages[@]}"; do
  installed "$p" || still+=("$p")
done
if [ ${#still[@]} -ne 0 ]; then
  echo "setup: still missing after install: ${still[*]}" >&2
  exit 1
fi
echo "setup: done"
