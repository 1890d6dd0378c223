#!/bin/bash
# The throw-away Wine prefix and X display of one build folder.
#
#   wine-prefix.sh up     compile the locale, start Xvfb when needed, create and
#                         initialise the prefix; quick when all of it is there
#   wine-prefix.sh down   end every process of the prefix (by pid) and the Xvfb
#                         started by "up"
#   wine-prefix.sh status print what is there
#
# QX_XVFB=force makes "up" start its own Xvfb even when $DISPLAY works (the
# test run does this so that no window appears on a developer's desktop).
set -euo pipefail
# shellcheck source=wine-env.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

log() { echo "wine-prefix: $*" >&2; }

display_usable() {
  [ -n "${1:-}" ] && DISPLAY="$1" timeout 5 xdpyinfo >/dev/null 2>&1
}

pid_alive() {
  [ -n "${1:-}" ] && [ -d "/proc/$1" ] && ! grep -q '^State:.*Z' "/proc/$1/status" 2>/dev/null
}

ensure_locale() {
  qx_system_has_zh_locale && return 0
  [ -s "$QX_LOCALE_DIR/zh_CN.UTF-8/LC_CTYPE" ] && return 0
  log "compiling the zh_CN.UTF-8 locale into $QX_LOCALE_DIR"
  mkdir -p "$QX_LOCALE_DIR"
  # localedef exits 1 for mere warnings in Debian's zh_CN source; what counts
  # is that the character-type table was written.
  timeout 300 localedef -i zh_CN -f UTF-8 "$QX_LOCALE_DIR/zh_CN.UTF-8" >/dev/null 2>&1 || true
  if [ ! -s "$QX_LOCALE_DIR/zh_CN.UTF-8/LC_CTYPE" ]; then
    log "localedef did not produce $QX_LOCALE_DIR/zh_CN.UTF-8"
    return 1
  fi
}

start_xvfb() {
  local fdfile="$QX_BUILD_DIR/xvfb.displayfd" log_file="$QX_BUILD_DIR/xvfb.log" pid i
  rm -f "$fdfile"
  # -displayfd lets the server pick a free display number and tells us once
  # it accepts connections. setsid keeps it out of the caller's process group
  # (ctest kills groups on time-outs).
  setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset \
    3>"$fdfile" 9>&- </dev/null >"$log_file" 2>&1 &
  pid=$!
  for i in $(seq 1 100); do
    if [ -s "$fdfile" ] && grep -q '^[0-9]' "$fdfile"; then
      break
    fi
    pid_alive "$pid" || break
    sleep 0.1
  done
  if ! [ -s "$fdfile" ] || ! pid_alive "$pid"; then
    log "Xvfb did not start (log: $log_file)"
    kill "$pid" 2>/dev/null || true
    return 1
  fi
  echo "$pid" >"$QX_XVFB_PID_FILE"
  echo ":$(head -n1 "$fdfile" | tr -d '[:space:]')" >"$QX_DISPLAY_FILE"
  rm -f "$fdfile"
  log "Xvfb $(cat "$QX_DISPLAY_FILE") started (pid $pid)"
}

ensure_display() {
  local ours=""
  if [ -s "$QX_XVFB_PID_FILE" ] && pid_alive "$(cat "$QX_XVFB_PID_FILE")" &&
     [ -s "$QX_DISPLAY_FILE" ] && display_usable "$(cat "$QX_DISPLAY_FILE")"; then
    return 0
  fi
  rm -f "$QX_XVFB_PID_FILE"
  if [ "${QX_XVFB:-auto}" != force ] && display_usable "${DISPLAY:-}"; then
    echo "$DISPLAY" >"$QX_DISPLAY_FILE"
    return 0
  fi
  start_xvfb
}

ensure_prefix() {
  local ready="$QX_PREFIX/.qx-ready"
  [ -f "$ready" ] && return 0
  if [ -e "$QX_PREFIX" ]; then
    log "removing the half-made prefix $QX_PREFIX"
    kill_prefix_processes
    rm -rf "$QX_PREFIX"
  fi
  log "creating the prefix $QX_PREFIX"
  (
    qx_wine_env
    timeout 300 wineboot --init
    # Without a window manager Wine stalls a thread for about 2 s whenever a
    # message box closes unless its windows are unmanaged.
    timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null
    # A crashing program must end, not wait for someone to close a dialog.
    timeout 60 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
    # Let the server write the registry to disk before we call it ready.
    timeout 60 wineserver -w
  ) 9>&-
  touch "$ready"
  log "prefix ready"
}

# One wine server for the whole test run, started here with its output on
# /dev/null. Otherwise the first program of a run starts it (and Wine's
# service processes) with that program's stdout and stderr, and a caller that
# reads them to the end waits for as long as the server lives.
ensure_server() {
  local pid i
  if [ -s "$QX_SERVER_PID_FILE" ]; then
    pid="$(cat "$QX_SERVER_PID_FILE")"
    if pid_alive "$pid" && grep -q wineserver "/proc/$pid/cmdline" 2>/dev/null; then
      return 0
    fi
    rm -f "$QX_SERVER_PID_FILE"
  fi
  (
    qx_wine_env
    setsid wineserver -f -p </dev/null >/dev/null 2>&1 9>&- &
    echo $! >"$QX_SERVER_PID_FILE"
  )
  pid="$(cat "$QX_SERVER_PID_FILE")"
  sleep 0.2
  if ! pid_alive "$pid"; then
    # Another server of this prefix is running (not started by us); it
    # will do, and the next call tries again once it has gone.
    rm -f "$QX_SERVER_PID_FILE"
    return 0
  fi
  # Start Wine's service processes and desktop now, with quiet stdio too.
  (qx_wine_env; timeout 120 wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true) 9>&-
}

# The pids of every process that runs in this prefix, except this script and
# its ancestors (which may carry the same WINEPREFIX).
prefix_pids() {
  local want="WINEPREFIX=$QX_PREFIX" skip=" " p=$$ pid
  while [ -n "$p" ] && [ "$p" != 0 ]; do
    skip+="$p "
    p="$(awk '/^PPid:/ {print $2}' "/proc/$p/status" 2>/dev/null || true)"
  done
  for pid in /proc/[0-9]*; do
    pid="${pid#/proc/}"
    case "$skip" in *" $pid "*) continue ;; esac
    if { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "$want"; then
      echo "$pid"
    fi
  done
}

kill_prefix_processes() {
  local pids i
  pids="$(prefix_pids)"
  [ -z "$pids" ] && return 0
  # Ask the server first; Wine's helper processes may outlive it, so every
  # survivor is then killed by pid.
  (qx_wine_env; timeout 10 wineserver -k >/dev/null 2>&1 || true) 9>&-
  for i in $(seq 1 50); do
    pids="$(prefix_pids)"
    [ -z "$pids" ] && return 0
    sleep 0.1
  done
  log "killing leftover processes: $(echo $pids)"
  # shellcheck disable=SC2086
  kill -KILL $pids 2>/dev/null || true
}

stop_xvfb() {
  local pid i
  [ -s "$QX_XVFB_PID_FILE" ] || { rm -f "$QX_DISPLAY_FILE"; return 0; }
  pid="$(cat "$QX_XVFB_PID_FILE")"
  if pid_alive "$pid" && grep -q Xvfb "/proc/$pid/cmdline" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null || true
    for i in $(seq 1 30); do
      pid_alive "$pid" || break
      sleep 0.1
    done
    pid_alive "$pid" && kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -f "$QX_XVFB_PID_FILE" "$QX_DISPLAY_FILE"
}

cmd="${1:-}"
case "$cmd" in
  up)
    exec 9>"$QX_LOCK_FILE"
    timeout 600 flock 9 || { log "could not lock $QX_LOCK_FILE"; exit 1; }
    ensure_locale
    ensure_display
    ensure_prefix
    ensure_server
    ;;
  down)
    exec 9>"$QX_LOCK_FILE"
    timeout 120 flock 9 || true
    kill_prefix_processes
    rm -f "$QX_SERVER_PID_FILE"
    stop_xvfb
    ;;
  status)
    echo "build folder: $QX_BUILD_DIR"
    echo "prefix:       $QX_PREFIX ($([ -f "$QX_PREFIX/.qx-ready" ] && echo ready || echo absent))"
    echo "display:      $(cat "$QX_DISPLAY_FILE" 2>/dev/null || echo none)"
    echo "Xvfb pid:     $(cat "$QX_XVFB_PID_FILE" 2>/dev/null || echo none)"
    echo "server pid:   $(cat "$QX_SERVER_PID_FILE" 2>/dev/null || echo none)"
    echo "processes:    $(prefix_pids | tr '\n' ' ')"
    ;;
  *)
    echo "usage: $0 up|down|status" >&2
    exit 1
    ;;
esac
