# Sourced by the demo and the HTTPS test: serves a folder on a free loopback port with nginx,
# or with Python's built-in server when nginx is missing, until http_serve_stop.
# Usage: http_serve_start WWW_ROOT WORK_DIR [LIMIT_RATE]  (LIMIT_RATE as nginx writes it: 1m)
# Sets HTTP_SERVE_PORT, HTTP_SERVE_KIND (nginx|python), HTTP_SERVE_PID and HTTP_SERVE_URL.
# With HTTP_SERVE_TLS_DIR set (certificates from tls-pki.sh), nginx serves HTTPS with trusted.pem
# at https://localhost:PORT; there is no fallback then.

# The start of an nginx configuration with every path nginx writes under the work folder; the
# caller writes the servers and closes the http block.
http_serve_nginx_prelude() {
  local work="$1" user=""
  # Started as root, nginx would hand the workers to "nobody", who may not read the folder;
  # they keep the identity of whoever runs the script instead.
  if [ "$(id -u)" -eq 0 ]; then user="user $(id -un) $(id -gn);"; fi
  cat <<EOF
daemon off;
$user
worker_processes 1;
pid $work/nginx.pid;
error_log $work/nginx-error.log warn;
events { worker_connections 64; }
http {
    types { text/xml xml; text/plain txt; }
    default_type application/octet-stream;
    client_body_temp_path $work/nginx-temp/body;
    proxy_temp_path $work/nginx-temp/proxy;
    fastcgi_temp_path $work/nginx-temp/fastcgi;
    uwsgi_temp_path $work/nginx-temp/uwsgi;
    scgi_temp_path $work/nginx-temp/scgi;
    sendfile on;
EOF
}

# nginx's own configuration for one server of the folder.
http_serve_nginx_conf() {
  local www="$1" work="$2" port="$3" rate="${4:-}"
  http_serve_nginx_prelude "$work"
  cat <<EOF
    access_log $work/nginx-access.log;
    server {
        listen 127.0.0.1:$port${HTTP_SERVE_TLS_DIR:+ ssl};
        ${HTTP_SERVE_TLS_DIR:+ssl_certificate $HTTP_SERVE_TLS_DIR/trusted.pem;}
        ${HTTP_SERVE_TLS_DIR:+ssl_certificate_key $HTTP_SERVE_TLS_DIR/server.key;}
        root $www;
        ${rate:+limit_rate $rate;}
        # The same files at 8 MB/s, a home line's speed, for measurements.
        location /slow/ { alias $www/; limit_rate 8m; }
    }
}
EOF
}

http_serve_free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])' \
    2>/dev/null || echo $((20000 + RANDOM % 40000))
}

# True once something accepts connections on the port; false when the process has ended.
http_serve_wait_ready() {
  local port="$1" pid="$2"
  for _ in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || return 1
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then return 0; fi
    sleep 0.05
  done
  return 1
}

http_serve_start() {
  local www="$1" work="$2" rate="${3:-}"
  HTTP_SERVE_PID="" HTTP_SERVE_PORT="" HTTP_SERVE_KIND=""
  mkdir -p "$work/nginx-temp"
  # Another program may take the port between choosing and binding it: try a few.
  for _ in 1 2 3 4 5; do
    local port
    port=$(http_serve_free_port)
    if command -v nginx >/dev/null 2>&1 || [ -n "${HTTP_SERVE_TLS_DIR:-}" ]; then
      HTTP_SERVE_KIND=nginx
      http_serve_nginx_conf "$www" "$work" "$port" "$rate" >"$work/nginx.conf"
      nginx -e "$work/nginx-error.log" -c "$work/nginx.conf" -p "$work" \
        </dev/null >>"$work/nginx-error.log" 2>&1 &
    else
      HTTP_SERVE_KIND=python
      python3 -m http.server --bind 127.0.0.1 --directory "$www" "$port" \
        </dev/null >>"$work/http-server.log" 2>&1 &
    fi
    HTTP_SERVE_PID=$!
    if http_serve_wait_ready "$port" "$HTTP_SERVE_PID"; then
      HTTP_SERVE_PORT=$port
      HTTP_SERVE_URL="http://127.0.0.1:$port"
      [ -n "${HTTP_SERVE_TLS_DIR:-}" ] && HTTP_SERVE_URL="https://localhost:$port"
      return 0
    fi
    http_serve_stop
  done
  echo "http-serve: the $HTTP_SERVE_KIND server did not start; see $work" >&2
  return 1
}

http_serve_stop() {
  if [ -n "${HTTP_SERVE_PID:-}" ]; then
    kill "$HTTP_SERVE_PID" 2>/dev/null || true
    wait "$HTTP_SERVE_PID" 2>/dev/null || true
    HTTP_SERVE_PID=""
  fi
}
