#!/bin/bash
# Runs a Windows program under Wine in the test prefix of the build folder
# (QX_BUILD_DIR, default <repo>/build/win): the emulator CMake uses for the
# tests of the Windows build, and what the end-to-end harness starts programs
# with. Prepares the prefix and the display first when they are missing.
set -euo pipefail
here="$(dirname "${BASH_SOURCE[0]}")"
if [ $# -lt 1 ]; then
  echo "usage: $0 PROGRAM.exe [ARGS...]" >&2
  exit 1
fi
# shellcheck source=wine-env.sh
source "$here/wine-env.sh"
bash "$here/wine-prefix.sh" up
qx_wine_env

# Wine takes a Linux path to the program as it is; a relative one is made
# absolute so that it does not depend on Wine's idea of the current folder.
prog="$1"
shift
case "$prog" in
  /*|[A-Za-z]:\\*|[A-Za-z]:/*) ;;
  *) [ -e "$prog" ] && prog="$(pwd)/$prog" ;;
esac
exec wine "$prog" "$@"
