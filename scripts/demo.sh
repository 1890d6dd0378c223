#!/bin/bash
# The main job: builds the updater and runs a whole update session under Wine
# against the sample update folder (samples/update), served by nginx on
# 127.0.0.1, with the server address written into the program by qxaddr.
# The progress list is printed as it grows, and build/screenshot.png shows the
# finished window. Uses $DISPLAY when it works, a private Xvfb otherwise.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"
export QX_BUILD_DIR="${QX_BUILD_DIR:-$repo/build/win}"

say() { echo "== demo.sh: $*"; }

timeout 3600 bash scripts/setup.sh

say "building the optimised, stripped QXUpdate.exe (Release), the driver and qxaddr"
timeout 600 cmake -S . -B "$QX_BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
timeout 2400 cmake --build "$QX_BUILD_DIR" -j2 --target QXUpdate qxdriver qxaddr

teardown() { bash "$repo/scripts/wine-prefix.sh" down >/dev/null 2>&1 || true; }
trap teardown EXIT
timeout 900 bash scripts/wine-prefix.sh up

export QX_EXE="$QX_BUILD_DIR/QXUpdate.exe" QX_DRIVER="$QX_BUILD_DIR/qxdriver.exe"
timeout 900 python3 "$repo/scripts/demo.py"
