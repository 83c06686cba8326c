#!/usr/bin/env bash
# Takes docs/screenshot.png: the real update window in the middle of a download. Builds the
# updater, publishes a two-file release on a loopback server that holds the second file back
# at 40 %, starts Updater.exe under its own Xvfb, waits until the server has held the file and
# the window has stopped changing, and saves the window's area of the screen.
# Usage: scripts/screenshot.sh [OUTPUT.png]   (BUILD_DIR as for the other scripts)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${BUILD_DIR:-$root/build}"
out="${1:-$root/docs/screenshot.png}"
work="$build/screenshot"
install="$work/install"
release="$work/release"
held=textures.pak
held_size=$((600 << 10))
held_at=$((240 << 10)) # 40 %, a whole number of the updater's 8 KiB blocks

say() { printf 'screenshot: %s\n' "$*"; }
die() {
  printf 'screenshot: FAILED: %s\n' "$*" >&2
  exit 1
}
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
# Waits up to $1 tenths of a second for the command after it to succeed.
wait_for() {
  local tenths="$1"
  shift
  for _ in $(seq 1 "$tenths"); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

"$root/scripts/setup.sh"
source "$root/scripts/wine-arch.sh"
wine_arch_choose "$build" screenshot || exit 1
say "building the updater and mkmanifest into $RUN_BUILD"
wine_arch_build "$root" Updater mkmanifest >/dev/null
bin="$RUN_BUILD/bin"

source "$root/scripts/wine-session.sh"
server_pid=""
finished=""
finish() {
  [ -n "$finished" ] && return
  finished=1
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  wine_session_stop
}
trap finish EXIT
trap 'finish; exit 130' INT
trap 'finish; exit 143' TERM

# An installation that has only the updater, and a release of two files to fetch.
rm -rf "$work"
mkdir -p "$install" "$release"
cp "$bin/Updater.exe" "$install/"
head -c $((300 << 10)) /dev/urandom >"$release/assets.pak"
head -c "$held_size" /dev/urandom >"$release/$held"

# Always a display of its own: the picture must not depend on the caller's desktop.
unset WINE_SESSION_USE_DISPLAY
wine_session_start "$RUN_BUILD"
"$WINE" "$bin/mkmanifest.exe" "$(winpath "$release")" 1.0 >/dev/null ||
  die "mkmanifest refused the release"
# The held file must be the last one fetched, so that both bars stand part way.
last=$(grep -o 'filename="[^"]*"' "$release/update.xml" | tail -n 1 | cut -d'"' -f2)
[ "$last" = "$held" ] || die "the manifest lists $last last, not $held"

python3 "$root/scripts/stalling-http-server.py" "$release" /down/update/ "$held" "$held_at" \
  "$work/port" "$work/status" 2>"$work/server.log" &
server_pid=$!
wait_for 100 test -s "$work/port" || die "the server did not start (see $work/server.log)"
printf '[Download]\r\nsite1=http://127.0.0.1:%s/down\r\n' "$(cat "$work/port")" \
  >"$install/Updater.INI"

say "starting Updater.exe on $DISPLAY"
"$WINE" "$install/Updater.exe" </dev/null >/dev/null 2>&1 &
wait_for 600 test -s "$work/status" ||
  die "the download never reached the hold (see $work/server.log)"

# The window: the X window of the skin's size; xwininfo gives "512x133+x+y  +absx+absy".
geometry=""
find_window() {
  geometry=$(xwininfo -root -tree 2>/dev/null | awk '{
    for (i = 1; i <= NF; i++)
      if ($i ~ /^512x133[+-]/) {
        if ($(i + 1) ~ /^[+-][0-9]+[+-][0-9]+$/) print "512x133" $(i + 1); else print $i
        exit
      }
  }')
  [ -n "$geometry" ]
}
wait_for 100 find_window || die "no 512x133 window on the screen"

# The worker has handed over its last block; wait until two looks in a row agree.
grab() { import -display "$DISPLAY" -window root -crop "$geometry" +repage rgb:- | md5sum; }
previous=$(grab)
steady=""
for _ in $(seq 1 50); do
  sleep 0.2
  current=$(grab)
  if [ "$current" = "$previous" ]; then
    steady=1
    break
  fi
  previous=$current
done
[ -n "$steady" ] || die "the window kept changing"

mkdir -p "$(dirname "$out")"
rm -f "$out"
import -display "$DISPLAY" -window root -crop "$geometry" +repage -strip "$out"
[ -s "$out" ] || die "import saved nothing"
say "saved $out (window at $geometry)"
