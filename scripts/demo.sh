#!/usr/bin/env bash
# A real update run, start to end: installs what is missing, builds, lays out an installation
# of an older release of the client, publishes a newer release on nginx (loopback), starts the
# client, which starts the updater, and waits until the client comes back with -noupdate. It
# shows on $DISPLAY when there is one, else runs under its own Xvfb and saves screenshots.
# Ends by printing what changed. Exit 0 on success. With TLS=1 the site is HTTPS, with a test CA
# made for the run and trusted only inside the build's Wine prefix. With SIGNED=1 the release is
# signed with a key made for the run (kept in the demo folder, outside the release), and the
# installation's Updater.INI carries its PublicKey. Ends with the run's lines of the run log and
# the publisher's check of the site (mkmanifest --verify, with the key when signed).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${BUILD_DIR:-$root/build}"
demo="$build/demo"
install="$demo/install"
release="$demo/release"
shots="$demo/screenshots"
log="$demo/client.log"
run_timeout=120

say() { printf 'demo: %s\n' "$*"; }
die() {
  printf 'demo: FAILED: %s\n' "$*" >&2
  exit 1
}

"$root/scripts/setup.sh"
source "$root/scripts/wine-arch.sh"
wine_arch_choose "$build" demo || exit 1
say "building the updater, the stand-in client and mkmanifest into $RUN_BUILD"
wine_arch_build "$root" Updater Quillmarket mkmanifest trust_store_tool >/dev/null
bin="$RUN_BUILD/bin"
trust_tool="$RUN_BUILD/tests/https/trust_store_tool.exe"

source "$root/scripts/wine-session.sh"
source "$root/scripts/http-serve.sh"
source "$root/scripts/tls-pki.sh"
finished=""
trusted_ca=""
finish() {
  [ -n "$finished" ] && return
  finished=1
  http_serve_stop
  if [ -n "$trusted_ca" ]; then "$WINE" "$trust_tool" remove "$trusted_ca" >/dev/null 2>&1 || true; fi
  wine_session_stop
}
trap finish EXIT
trap 'finish; exit 130' INT
trap 'finish; exit 143' TERM

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
md5() { md5sum "$1" | cut -d' ' -f1; }

# --- the installation of release 1.0 and the newer release 2.0 ---------------------------
rm -rf "$demo"
mkdir -p "$install" "$release" "$shots" "$demo/www/down"
ln -s "$release" "$demo/www/down/update" # the updater asks for <site1>/update/<file>

cp "$bin/Quillmarket.exe" "$bin/Updater.exe" "$install/"
printf 'Quillmarket 1.0\r\nThank you for using Quillmarket.\r\n' >"$install/readme.txt"
for i in $(seq 1 200); do printf 'item-%03d\t%d.%02d\r\n' "$i" $((i % 50)) $((i % 100)); done \
  >"$install/prices.dat"
head -c $((8 << 20)) /dev/urandom >"$install/assets.pak"

cp "$install/readme.txt" "$release/readme.txt" # unchanged: not downloaded
for i in $(seq 1 240); do printf 'item-%03d\t%d.%02d\r\n' "$i" $((i % 70)) $((i * 7 % 100)); done \
  >"$release/prices.dat"
# Release 2.0's assets: 1.0's with 2000 bytes inserted and a few records changed; mkmanifest
# indexes it, and the updater fetches only what changed.
{ head -c $((100 << 10)) "$install/assets.pak"; head -c 2000 /dev/urandom
  tail -c +$(((100 << 10) + 1)) "$install/assets.pak"; } >"$release/assets.pak"
for mib in 2 5 7; do
  head -c 64 /dev/urandom | dd of="$release/assets.pak" bs=1 seek=$((mib << 20)) conv=notrunc status=none
done
# New, and large enough with nginx's rate limit to keep the window up for a few seconds.
head -c $((6 << 20)) /dev/urandom >"$release/sounds.pak"
printf 'Quillmarket 2.0: 40 new items, faster start.\r\n' >"$release/news.txt"
# A file in a folder that release 1.0 does not have: the installation makes it.
mkdir -p "$release/data"
for i in $(seq 1 40); do printf 'quote-%02d\t%d\r\n' "$i" $((i * 37 % 1000)); done \
  >"$release/data/quotes.dat"
# The programs of release 2.0 are this build with a release mark after the image, so that
# their digests differ; Updater.exe is in the release so that Updater.EX_ shows.
for exe in Quillmarket.exe Updater.exe; do
  { cat "$bin/$exe"; printf '\0Quillmarket release 2.0\0'; } >"$release/$exe"
done

declare -A before
for f in "$install"/*; do before[$(basename "$f")]=$(md5 "$f"); done

# --- the display, the publisher's step and the server ---------------------------------------
if [ -n "${DISPLAY:-}" ]; then
  export WINE_SESSION_USE_DISPLAY=1
  say "showing on DISPLAY=$DISPLAY (run with DISPLAY= to use Xvfb and take screenshots)"
else
  unset WINE_SESSION_USE_DISPLAY
fi
wine_session_start "$RUN_BUILD"
own_xvfb="${WINE_SESSION_XVFB_PID:-}"
[ -n "$own_xvfb" ] && say "no display: running under Xvfb $DISPLAY, screenshots go to $shots"

public_key=""
if [ "${SIGNED:-}" = 1 ]; then
  key="$demo/keys/quillmarket.key"
  mkdir -p "$demo/keys"
  say "making the publisher's key: mkmanifest.exe --new-key $(winpath "$key")"
  public_key=$("$WINE" "$bin/mkmanifest.exe" --new-key "$(winpath "$key")" 2>/dev/null | tr -d '\r') ||
    die "mkmanifest could not make a key"
  say "publishing signed release 2.0: mkmanifest.exe --sign $(winpath "$key") $(winpath "$release") 2.0"
  "$WINE" "$bin/mkmanifest.exe" --sign "$(winpath "$key")" "$(winpath "$release")" 2.0 ||
    die "mkmanifest refused to sign the release"
else
  say "publishing release 2.0: mkmanifest.exe $(winpath "$release") 2.0"
  "$WINE" "$bin/mkmanifest.exe" "$(winpath "$release")" 2.0 || die "mkmanifest refused the release"
fi

if [ "${TLS:-}" = 1 ]; then
  tls_pki_make "$demo/pki" || die "openssl could not make the certificates"
  "$WINE" "$trust_tool" add "$(winpath "$demo/pki/ca.der")" ||
    die "could not trust the test CA in the Wine prefix"
  trusted_ca="$(winpath "$demo/pki/ca.der")"
  export HTTP_SERVE_TLS_DIR="$demo/pki"
  say "HTTPS: a test CA made in $demo/pki, trusted only inside the Wine prefix"
fi
rate=2m
http_serve_start "$demo/www" "$demo" "$rate" || die "no web server could be started (see $demo)"
if [ "$HTTP_SERVE_KIND" = nginx ]; then
  say "nginx serves $release as $HTTP_SERVE_URL/down/update/" \
    "(config $demo/nginx.conf, limit_rate $rate)"
else
  say "nginx is missing: falling back to Python's http.server on port $HTTP_SERVE_PORT" \
    "(no rate limit, so the window may be up too briefly for a screenshot)"
fi
printf '[Download]\r\nsite1=%s/down\r\n' "$HTTP_SERVE_URL" >"$install/Updater.INI"
[ -z "$public_key" ] || printf 'PublicKey=%s\r\n' "$public_key" >>"$install/Updater.INI"
# The run log is %TEMP%\Quillmarket-Updater.log inside the build's Wine prefix; this run's lines
# are those after its current end.
temp_dir=$("$WINE" cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')
run_log=$("$WINE" winepath -u "$temp_dir\Quillmarket-Updater.log" 2>/dev/null | tr -d '\r') || true
log_start=$( [ -f "$run_log" ] && wc -l <"$run_log" || echo 0)

# --- the run ---------------------------------------------------------------------------------
say "starting $(winpath "$install")\\Quillmarket.exe; it starts Updater.exe"
QUILLMARKET_LOG="$(winpath "$log")" "$WINE" "$install/Quillmarket.exe" </dev/null >/dev/null 2>&1 &

shot() {
  [ -n "$own_xvfb" ] || return 0
  if import -display "$DISPLAY" -window root "$shots/$1.png" 2>/dev/null; then
    say "screenshot $shots/$1.png"
  else
    say "no screenshot: import failed"
  fi
}
count() {
  local n
  n=$(grep -c -- "$1" "$log" 2>/dev/null) || true
  echo "${n:-0}"
}

start=$SECONDS
shots_taken=0
while [ "$(count -noupdate)" -eq 0 ]; do
  [ $((SECONDS - start)) -lt $run_timeout ] ||
    die "the client did not come back within ${run_timeout}s; its log: $(cat "$log" 2>/dev/null)"
  [ "$(count 'msg 1126')" -eq 0 ] ||
    die "the updater found nothing to update (is the manifest served? see $demo/nginx-access.log)"
  # The client is asked to close just before the update window shows.
  if [ "$(count 'msg close')" -gt 0 ] && [ "$shots_taken" -lt 5 ]; then
    sleep 0.7
    [ "$(count -noupdate)" -eq 0 ] || break
    shots_taken=$((shots_taken + 1))
    shot "update-window-$shots_taken"
  else
    sleep 0.1
  fi
done
say "the client came back after $((SECONDS - start)) s: $(grep -- -noupdate "$log")"
if [ -n "$own_xvfb" ]; then
  sleep 1 # lets the restarted client paint
  shot client-restarted
fi

say "closing the client"
"$WINE" taskkill /im Quillmarket.exe >/dev/null 2>&1 || true
start=$SECONDS
while [ "$(count '^exit')" -lt 2 ] && [ $((SECONDS - start)) -lt 10 ]; do sleep 0.1; done

# --- what changed ----------------------------------------------------------------------------
echo
say "what changed in $install:"
problems=0
while IFS= read -r name; do
  path="$release/$name"
  case "$name" in update.xml | update.xml.sig | *.blocks) continue ;; esac
  shown=${name//\//\\} # as the manifest names it
  new=$(md5 "$path")
  target="$install/$name"
  [ "$name" = Updater.exe ] && target="$install/Updater.EX_"
  if [ ! -f "$target" ] || [ "$(md5 "$target")" != "$new" ]; then
    printf '  %-16s NOT INSTALLED (expected md5 %s)\n' "$shown" "$new"
    problems=$((problems + 1))
  elif [ "$name" = Updater.exe ]; then
    printf '  %-16s new updater placed beside the running one as Updater.EX_ (md5 %s);\n' \
      Updater.EX_ "$new"
    printf '  %-16s unchanged (md5 %s): a running program cannot replace itself\n' \
      Updater.exe "$(md5 "$install/Updater.exe")"
  elif [ -z "${before[$name]:-}" ]; then
    printf '  %-16s added     (md5 %s)%s\n' "$shown" "$new" \
      "$([ "$name" != "${name#*/}" ] && echo ', in a folder the installation made')"
  elif [ "${before[$name]}" = "$new" ]; then
    printf '  %-16s unchanged (md5 %s), not downloaded\n' "$shown" "$new"
  else
    printf '  %-16s replaced  md5 %s -> %s\n' "$shown" "${before[$name]}" "$new"
  fi
done < <(cd "$release" && find . -type f | sed 's|^\./||' | sort)
if [ "$HTTP_SERVE_KIND" = nginx ]; then
  say "nginx served: $(awk '{print $7 " (" $9 ")"}' "$demo/nginx-access.log" | tr '\n' ' ')"
fi
[ -n "$own_xvfb" ] && say "screenshots: $(ls "$shots" | tr '\n' ' ')"
if [ -f "$run_log" ]; then
  say "the updater's run log ($run_log), this run:"
  tail -n +$((log_start + 1)) "$run_log" | tr -d '\r' | iconv -f GBK -t UTF-8 -c | sed 's/^/  /'
fi
if [ -n "$public_key" ]; then
  tail -n +$((log_start + 1)) "$run_log" 2>/dev/null | grep -q 'signature: verified' ||
    die "the run log does not show the release's signature verified"
  say "the release's signature was verified against the PublicKey in Updater.INI"
fi
[ "$problems" -eq 0 ] || die "$problems file(s) of release 2.0 were not installed"
say "done: release 2.0 installed and the client restarted with -noupdate"

# --- the publisher's check of the site, as the updater fetches it ----------------------------
echo
say "checking the published site: mkmanifest.exe --verify $HTTP_SERVE_URL/down${public_key:+ PUBLICKEY}"
"$WINE" "$bin/mkmanifest.exe" --verify "$HTTP_SERVE_URL/down" ${public_key:+"$public_key"} |
  tr -d '\r' | sed 's/^/  /' || die "mkmanifest --verify found the published site unsound"
