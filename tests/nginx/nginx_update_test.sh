#!/usr/bin/env bash
# A whole update run against nginx: a release published with mkmanifest.exe and served by nginx
# on loopback is installed by Updater.exe into a fresh installation folder, byte for byte, the
# running updater's new version lands beside it as Updater.EX_, and the client comes back with
# -noupdate. Runs inside the test command's Xvfb and wineserver session.
# Usage: nginx_update_test.sh BUILD_DIR SOURCE_DIR   (exit 0 pass, 1 fail, 77 skipped)
set -euo pipefail
build="$1"
source "$2/scripts/http-serve.sh"
wine_run="$build/wine-run.sh"

fail() {
  echo "FAIL: $*"
  exit 1
}
command -v nginx >/dev/null 2>&1 || {
  echo "SKIPPED: nginx is not installed (scripts/setup.sh installs it)"
  exit 77
}
[ -n "${DISPLAY:-}" ] || fail "no DISPLAY: run it through scripts/run-tests.sh"

work=$(mktemp -d "$build/tests/nginx/run.XXXXXX")
client_pid=""
cleanup() {
  http_serve_stop
  if [ -n "$client_pid" ]; then kill "$client_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

release="$work/www/down/update"
install="$work/install"
mkdir -p "$release" "$install"
log="$work/client.log"

# Installed: the programs and two data files. Published: one of them changed, one unchanged,
# one new file, and a new updater (the same program with a release mark after its image).
cp "$build/bin/Updater.exe" "$build/bin/Quillmarket.exe" "$install/"
head -c 300000 /dev/urandom >"$install/a.dat"
head -c 70000 /dev/urandom >"$install/b.dat"
head -c 300001 /dev/urandom >"$release/a.dat"
cp "$install/b.dat" "$release/b.dat"
head -c 100000 /dev/urandom >"$release/c.dat"
{ cat "$build/bin/Updater.exe"; printf 'release 2.0'; } >"$release/Updater.exe"
cp "$install/Updater.exe" "$work/Updater.exe.before"

"$wine_run" "$build/bin/mkmanifest.exe" "$(winpath "$release")" 2.0 >"$work/mkmanifest.out" 2>&1 ||
  fail "mkmanifest: $(cat "$work/mkmanifest.out")"

http_serve_start "$work/www" "$work" || fail "nginx did not start"
printf '[Download]\r\nsite1=http://127.0.0.1:%s/down\r\n' "$HTTP_SERVE_PORT" >"$install/Updater.INI"

# The client starts the updater itself, as the real client does.
QUILLMARKET_LOG="$(winpath "$log")" "$wine_run" "$install/Quillmarket.exe" </dev/null >/dev/null 2>&1 &
client_pid=$!

restarted() { grep -q -- '-noupdate' "$log" 2>/dev/null; }
for _ in $(seq 1 300); do
  restarted && break
  sleep 0.05
done
restarted || fail "the client was not restarted within 15 s; log: $(cat "$log" 2>/dev/null)"

[ "$(grep -c '^msg close' "$log")" -eq 1 ] || fail "the client was not asked to close once: $(cat "$log")"
[ "$(grep -c -- '-noupdate' "$log")" -eq 1 ] || fail "not exactly one restart: $(cat "$log")"

# The restarted client is closed like a user closes it; the log's last line is its exit.
"$wine_run" taskkill /im Quillmarket.exe >/dev/null 2>&1 || true
for _ in $(seq 1 200); do
  [ "$(grep -c '^exit' "$log")" -ge 2 ] && break
  sleep 0.05
done
[ "$(grep -c '^exit' "$log")" -ge 2 ] || fail "the restarted client did not close: $(cat "$log")"
wait "$client_pid" 2>/dev/null || true
client_pid=""

cmp -s "$release/a.dat" "$install/a.dat" || fail "a.dat was not replaced byte for byte"
cmp -s "$release/c.dat" "$install/c.dat" || fail "the new file c.dat was not installed"
cmp -s "$release/b.dat" "$install/b.dat" || fail "b.dat changed"
cmp -s "$release/Updater.exe" "$install/Updater.EX_" || fail "Updater.EX_ is not the new updater"
cmp -s "$work/Updater.exe.before" "$install/Updater.exe" || fail "the running updater was replaced"

# nginx saw the manifest and exactly the three changed files, and no unchanged one.
requests=$(awk '{print $7}' "$work/nginx-access.log" | LC_ALL=C sort | tr '\n' ' ')
case "$requests" in
"/down/update/Updater.exe /down/update/a.dat /down/update/c.dat /down/update/update.xml?"*) ;;
*) fail "unexpected requests: $requests" ;;
esac
grep -q ' 200 ' "$work/nginx-access.log" || fail "no successful request in the access log"
echo "PASS: 3 files updated through nginx on port $HTTP_SERVE_PORT; Updater.EX_ beside the updater"
