#!/usr/bin/env python3
"""Serves a folder over HTTP/1.0 on a free loopback port, holding one file back midway.

The held file gets its full Content-Length but only its first STALL_AT bytes; then the server
writes "stalled" to STATUS_FILE and keeps the connection open until it is stopped, so that a
downloader shows a steady, partly done state. Everything else is served whole.

Usage: stalling-http-server.py ROOT URL_PREFIX HELD_NAME STALL_AT PORT_FILE STATUS_FILE
"""
import http.server
import os
import sys
import threading
import urllib.parse


def main():
    root, prefix, held_name, stall_at, port_file, status_file = sys.argv[1:7]
    stall_at = int(stall_at)
    forever = threading.Event()

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.0"

        def log_message(self, fmt, *args):
            sys.stderr.write("stalling-http-server: " + (fmt % args) + "\n")

        def do_GET(self):
            path = urllib.parse.urlsplit(self.path).path
            name = path[len(prefix):] if path.startswith(prefix) else ""
            file_path = os.path.join(root, name)
            if not name or "/" in name or not os.path.isfile(file_path):
                self.send_error(404)
                return
            with open(file_path, "rb") as f:
                body = f.read()
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Connection", "close")
            self.end_headers()
            if name != held_name:
                self.wfile.write(body)
                return
            self.wfile.write(body[:stall_at])
            self.wfile.flush()
            with open(status_file, "w") as status:
                status.write("stalled\n")
            forever.wait()

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    with open(port_file + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(port_file + ".tmp", port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
