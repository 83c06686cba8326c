# Sourced by the HTTPS test and the demo: certificates for servers on loopback, made at run time
# with openssl (never committed). The CA is trusted only inside a Wine prefix, by
# trust_store_tool.exe, so that the host's own trust store is never touched.
# Usage: tls_pki_make DIR   makes in DIR: server.key (one key for every server certificate);
#          ca.pem/.key/.der "Quillmarket Test CA", the one a prefix is told to trust;
#          stranger.pem/.key a second CA that nobody trusts;
#          trusted.pem (localhost, from ca), untrusted.pem (localhost, from stranger),
#          othername.pem (other-host.invalid, from ca)
#        tls_pki_host_trusts DIR   true when the host itself would trust trusted.pem
# Wine matches a certificate's DNS names against the URL's host but not its IP address
# entries, so the servers are reached as https://localhost:PORT.

tls_pki_ca() { # DIR NAME SUBJECT
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout "$1/$2.key" -out "$1/$2.pem" \
    -subj "/CN=$3" -addext 'basicConstraints=critical,CA:TRUE' \
    -addext 'keyUsage=critical,keyCertSign,cRLSign' 2>/dev/null
}

tls_pki_server() { # DIR NAME CA DNS-NAME
  openssl req -new -key "$1/server.key" -subj "/CN=$4" -out "$1/$2.csr" 2>/dev/null &&
    printf 'subjectAltName=DNS:%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' \
      "$4" >"$1/$2.ext" &&
    openssl x509 -req -in "$1/$2.csr" -CA "$1/$3.pem" -CAkey "$1/$3.key" -CAcreateserial \
      -days 2 -extfile "$1/$2.ext" -out "$1/$2.pem" 2>/dev/null
}

tls_pki_make() {
  local dir="$1"
  mkdir -p "$dir"
  tls_pki_ca "$dir" ca "Quillmarket Test CA" &&
    tls_pki_ca "$dir" stranger "Stranger Test CA" &&
    openssl genrsa -out "$dir/server.key" 2048 2>/dev/null &&
    tls_pki_server "$dir" trusted ca localhost &&
    tls_pki_server "$dir" untrusted stranger localhost &&
    tls_pki_server "$dir" othername ca other-host.invalid &&
    openssl x509 -in "$dir/ca.pem" -outform der -out "$dir/ca.der"
}

tls_pki_host_trusts() {
  openssl verify -CApath /etc/ssl/certs "$1/trusted.pem" >/dev/null 2>&1
}
