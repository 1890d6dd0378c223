#!/bin/bash
# Builds the updater, starts it under Wine and takes a screenshot of its
# window as build/screenshot.png, then closes it the way a user would.
# Uses $DISPLAY when it works (the window shows on your desktop), and a
# private Xvfb otherwise.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"
export QX_BUILD_DIR="${QX_BUILD_DIR:-$repo/build/win}"
shot="$repo/build/screenshot.png"
wine_run="$repo/scripts/wine-run.sh"

say() { echo "== demo.sh: $*"; }

timeout 3600 bash scripts/setup.sh

say "building QXUpdate.exe"
timeout 600 cmake -S . -B "$QX_BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-i686.cmake" >/dev/null
timeout 2400 cmake --build "$QX_BUILD_DIR" -j2 --target QXUpdate qxdriver
exe="$QX_BUILD_DIR/QXUpdate.exe"
driver="$QX_BUILD_DIR/qxdriver.exe"

app_pid=""
teardown() {
  if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then
    kill -KILL "$app_pid" 2>/dev/null || true
  fi
  bash "$repo/scripts/wine-prefix.sh" down >/dev/null 2>&1 || true
}
trap teardown EXIT

timeout 900 bash scripts/wine-prefix.sh up
display="$(cat "$QX_BUILD_DIR/x-display")"
say "display $display"

"$wine_run" "$exe" >"$QX_BUILD_DIR/demo.log" 2>&1 &
app_pid=$!

# Prints a field of the window's state, as the driver reports it.
window_state() {
  timeout 60 "$wine_run" "$driver" state --exe QXUpdate.exe "$@" 2>/dev/null
}
field() {
  python3 -c '
import json, sys
state = json.loads(sys.stdin.readline())
what = sys.argv[1]
if what == "ready":
    buttons = [b for b in state["buttons"] if b["visible"]]
    print("yes" if buttons and all(b["enabled"] for b in buttons) else "no")
elif what == "geometry":
    r = state["rect"]
    left, top = max(r["left"], 0), max(r["top"], 0)
    width, height = r["right"] - left, r["bottom"] - top
    print(f"{width}x{height}+{left}+{top}")
else:
    print(state[what])
' "$1"
}

say "waiting for the window"
state="$(window_state --timeout-ms 30000)" || { say "no window appeared"; cat "$QX_BUILD_DIR/demo.log"; exit 1; }
# The start button is enabled half a second after the window appears.
for _ in $(seq 1 50); do
  [ "$(field ready <<<"$state")" = yes ] && break
  sleep 0.2
  state="$(window_state)"
done
say "window: $(field caption <<<"$state")"

geometry="$(field geometry <<<"$state")"
mkdir -p "$(dirname "$shot")"
DISPLAY="$display" timeout 60 import -window root -crop "$geometry" +repage "$shot"
say "screenshot of $geometry: $shot"

say "closing the window"
timeout 60 "$wine_run" "$driver" click "$(printf '关闭窗口' | od -An -tx1 | tr -d ' \n')" --exe QXUpdate.exe >/dev/null
for _ in $(seq 1 100); do
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$app_pid" 2>/dev/null; then
  say "the program did not end after its close button was clicked"
  exit 1
fi
wait "$app_pid" || true
app_pid=""
say "done"
