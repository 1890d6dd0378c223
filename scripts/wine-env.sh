# Sourced by the Wine scripts: where the test prefix, the display and the
# locale of one build folder live, and the environment Wine runs with.
# The build folder comes from QX_BUILD_DIR (default: <repo>/build/win); nothing
# is ever put under $HOME.

QX_REPO="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
QX_BUILD_DIR="${QX_BUILD_DIR:-$QX_REPO/build/win}"
mkdir -p "$QX_BUILD_DIR"
QX_BUILD_DIR="$(cd "$QX_BUILD_DIR" && pwd)"
export QX_BUILD_DIR

QX_PREFIX="$QX_BUILD_DIR/wineprefix"
QX_LOCALE_DIR="$QX_BUILD_DIR/locale"
QX_DISPLAY_FILE="$QX_BUILD_DIR/x-display"     # the display Wine programs use
QX_XVFB_PID_FILE="$QX_BUILD_DIR/xvfb.pid"     # only when we started the server
QX_SERVER_PID_FILE="$QX_BUILD_DIR/wineserver.pid" # the persistent wine server
QX_LOCK_FILE="$QX_BUILD_DIR/.qx-wine.lock"

# glibc has no zh_CN.UTF-8 on a stock Debian; without it Wine cannot create
# file names with Chinese characters, so one is compiled into the build folder.
qx_system_has_zh_locale() {
  locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8'
}

# Exports what every Wine process of this build folder needs. DISPLAY is left
# alone when no display file exists yet (wine-prefix.sh up writes it).
qx_wine_env() {
  export WINEPREFIX="$QX_PREFIX"
  # The program is 32-bit Windows software; a 32-bit prefix avoids the WoW64
  # folder redirection that 64-bit Windows would add.
  export WINEARCH=win32
  export WINEDEBUG="${QX_WINEDEBUG:--all}"
  # No Mono or Gecko install prompts; nothing here needs them.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  if ! qx_system_has_zh_locale; then
    export LOCPATH="$QX_LOCALE_DIR"
  fi
  # Makes the ANSI code page 936 inside Wine. Bash itself cannot load a locale
  # from LOCPATH (it reads the variable only at start) and would warn.
  { export LC_ALL=zh_CN.UTF-8; } 2>/dev/null
  if [ -s "$QX_DISPLAY_FILE" ]; then
    DISPLAY="$(cat "$QX_DISPLAY_FILE")"
    export DISPLAY
  fi
}
