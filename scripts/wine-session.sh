# Sourced by the test and demo scripts: one Xvfb display and one persistent wineserver for the
# whole run, in the build folder's private prefix, always stopped again.
# The prefix is of the kind WINE_ARCH names (i686, the default, or x86_64; see wine-arch.sh),
# and WINE is the loader to run programs with.
# Usage: wine_session_start BUILD_DIR [KEEPALIVE_EXE]; wine_session_stop

wine_session_env() {
  export WINEPREFIX="$1/wineprefix"
  if [ "${WINE_ARCH:-i686}" = x86_64 ]; then
    # /usr/bin/wine would pick the 32-bit loader whenever it is installed.
    export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
    WINE=/usr/lib/wine/wine64
  else
    export WINEARCH=win32
    unset WINELOADER
    WINE=/usr/lib/wine/wine
  fi
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
  unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY no_proxy NO_PROXY
}

wine_session_start() {
  local build="$1" keepalive="${2:-}"
  wine_session_env "$build"
  WINE_SESSION_XVFB_PID=""
  if [ -z "${WINE_SESSION_USE_DISPLAY:-}" ] || [ -z "${DISPLAY:-}" ]; then
    local fdfile
    fdfile=$(mktemp)
    Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp 9>"$fdfile" 2>/dev/null &
    WINE_SESSION_XVFB_PID=$!
    for _ in $(seq 1 100); do
      [ -s "$fdfile" ] && break
      kill -0 "$WINE_SESSION_XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
    if [ ! -s "$fdfile" ]; then
      echo "wine-session: Xvfb did not start" >&2
      rm -f "$fdfile"
      return 1
    fi
    export DISPLAY=":$(tr -d '\n' <"$fdfile")"
    rm -f "$fdfile"
  fi

  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-session: creating the Wine prefix (once per build folder)"
    if ! "$WINE" wineboot -i >/dev/null 2>&1; then
      echo "wine-session: creating the prefix with $WINE failed" >&2
      return 1
    fi
    # Without a window manager every hide or destroy of a top-level window waits 2 s.
    "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    wineserver -w
  fi
  wineserver -p
  if [ -n "$keepalive" ] && [ -f "$keepalive" ]; then
    # One long-lived windowed program keeps explorer.exe running between test programs; the
    # run starts once its window exists.
    local ready="$WINEPREFIX/drive_c/keepalive.ready"
    rm -f "$ready"
    setsid "$WINE" "$keepalive" 'C:\keepalive.ready' </dev/null >/dev/null 2>&1 &
    for _ in $(seq 1 200); do
      [ -f "$ready" ] && break
      sleep 0.05
    done
  fi
}

wine_session_stop() {
  if [ -n "${WINEPREFIX:-}" ]; then
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
  fi
  if [ -n "${WINE_SESSION_XVFB_PID:-}" ]; then
    kill "$WINE_SESSION_XVFB_PID" 2>/dev/null || true
    wait "$WINE_SESSION_XVFB_PID" 2>/dev/null || true
    WINE_SESSION_XVFB_PID=""
  fi
}
