#!/usr/bin/env bash
# Whole update runs over HTTPS through nginx. Makes a test CA and certificates with openssl,
# trusts that CA in this build's Wine prefix only (the host's trust store must end as it began),
# publishes a release with mkmanifest.exe, starts five servers on loopback and runs
# https_run_tests.exe against them:
#   trusted     https, certificate for localhost from the trusted CA: serves the release
#   untrusted   https, certificate for localhost from a CA nobody trusts
#   othername   https, certificate from the trusted CA for another name
#   redirecting https, trusted: serves the manifest, redirects every file to "untrusted"
#   plain       http: redirects everything to "trusted"
# Runs inside the test command's Xvfb and wineserver session.
# Usage: https_update_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build="$1"
source "$2/scripts/http-serve.sh"
source "$2/scripts/tls-pki.sh"
wine_run="$build/wine-run.sh"
fail() {
  echo "FAIL: $*"
  exit 1
}
[ -n "${DISPLAY:-}" ] || fail "no DISPLAY: run it through scripts/run-tests.sh"

work=$(mktemp -d "$build/tests/https/run.XXXXXX")
pki="$work/pki"
mkdir -p "$pki" "$work/www/down/update" "$work/nginx-temp"
nginx_pid=""
trusted_in_prefix=""
host_store() { { cat /etc/ssl/certs/ca-certificates.crt; ls -l /etc/ssl/certs; true; } 2>/dev/null | sha256sum; }
host_store_before=$(host_store)
cleanup() {
  [ -n "$nginx_pid" ] && { kill "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; }
  [ -n "$trusted_in_prefix" ] && "$wine_run" "$build/tests/https/trust_store_tool.exe" remove \
    "$(winpath "$pki/ca.der")" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# --- certificates ------------------------------------------------------------------------------
tls_pki_make "$pki" || fail "openssl could not make the certificates"
# The host itself must not trust the test CA, or the refusals below would prove nothing.
tls_pki_host_trusts "$pki" && fail "the host already trusts the test CA"

"$wine_run" "$build/tests/https/trust_store_tool.exe" add "$(winpath "$pki/ca.der")" ||
  fail "could not trust the test CA in the Wine prefix"
trusted_in_prefix=1

# --- servers -----------------------------------------------------------------------------------
ports=()
for _ in 1 2 3 4 5; do ports+=("$(http_serve_free_port)"); done
read -r p_trusted p_untrusted p_othername p_redirecting p_plain <<<"${ports[*]}"
tls_server() { # PORT CERT NAME [BODY]
  printf '    server {\n        listen 127.0.0.1:%s ssl;\n        server_name localhost;\n' "$1"
  printf '        ssl_certificate %s/%s.pem;\n        ssl_certificate_key %s/server.key;\n' \
    "$pki" "$2" "$pki"
  printf '        access_log %s/access-%s.log;\n        root %s/www;\n%s\n    }\n' \
    "$work" "$3" "$work" "${4:-}"
}
{
  http_serve_nginx_prelude "$work"
  cat <<CONF
$(tls_server "$p_trusted" trusted trusted)
$(tls_server "$p_untrusted" untrusted untrusted)
$(tls_server "$p_othername" othername othername)
$(tls_server "$p_redirecting" trusted redirecting \
  "        location ~ \\.xml\$ { }
        location / { return 302 https://localhost:$p_untrusted\$request_uri; }")
    server {
        listen 127.0.0.1:$p_plain;
        access_log $work/access-plain.log;
        return 301 https://localhost:$p_trusted\$request_uri;
    }
}
CONF
} >"$work/nginx.conf"
nginx -e "$work/nginx-error.log" -c "$work/nginx.conf" -p "$work" </dev/null \
  >>"$work/nginx-error.log" 2>&1 &
nginx_pid=$!
for port in "${ports[@]}"; do
  http_serve_wait_ready "$port" "$nginx_pid" || fail "nginx did not start: $(cat "$work/nginx-error.log")"
done

# --- the release: a.dat changed, b.dat unchanged, c.dat new, a new updater ---------------------
release="$work/www/down/update"
head -c 300001 /dev/urandom >"$release/a.dat"
head -c 70000 /dev/urandom >"$release/b.dat"
head -c 100000 /dev/urandom >"$release/c.dat"
{ cat "$build/bin/Updater.exe"; printf 'release 2.0'; } >"$release/Updater.exe"
"$wine_run" "$build/bin/mkmanifest.exe" "$(winpath "$release")" 2.0 >"$work/mkmanifest.out" 2>&1 ||
  fail "mkmanifest: $(cat "$work/mkmanifest.out")"

# --- the runs ----------------------------------------------------------------------------------
HTTPS_TEST_WORK="$(winpath "$work")" \
  HTTPS_TEST_PORTS="$p_trusted $p_untrusted $p_othername $p_redirecting $p_plain" \
  "$wine_run" "$build/tests/https/https_run_tests.exe" || fail "https_run_tests failed"

"$wine_run" "$build/tests/https/trust_store_tool.exe" remove "$(winpath "$pki/ca.der")" ||
  fail "could not remove the test CA from the Wine prefix"
trusted_in_prefix=""
[ "$(host_store)" = "$host_store_before" ] || fail "the host's trust store changed"
echo "PASS: updates over HTTPS; refused certificates end the run; the host's trust store unchanged"
