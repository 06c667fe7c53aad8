#!/usr/bin/env python3
"""A local HTTP server that records every accepted connection and every
request, for the reader's blocking tests.

Usage: count-server.py LOGFILE
Prints the port it listens on (127.0.0.1, chosen by the system) as its first
line. Each accepted connection appends "CONN" to LOGFILE, each request
"REQ <method> <path>"; the file is flushed after every line. Answers every
path: a 1x1 PNG for image-like names, CSS for .css, an empty page otherwise.
"""
import base64
import http.server
import socketserver
import sys
import threading

PNG = base64.b64decode(
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==")
LOCK = threading.Lock()
LOG = None


def record(line):
    with LOCK:
        LOG.write(line + "\n")
        LOG.flush()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, body_wanted):
        record("REQ %s %s" % (self.command, self.path))
        path = self.path.split("?")[0].lower()
        if path.endswith((".png", ".gif", ".jpg", ".ico", ".webp")):
            body, kind = PNG, "image/png"
        elif path.endswith(".css"):
            body, kind = b"body{background:url(/from-css.png)}", "text/css"
        else:
            body, kind = b"<!doctype html><p>remote</p>", "text/html"
        self.send_response(200)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        if body_wanted:
            self.wfile.write(body)

    def do_GET(self):
        self.answer(True)

    def do_HEAD(self):
        self.answer(False)

    def do_POST(self):
        self.answer(True)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def get_request(self):
        conn = super().get_request()
        record("CONN")
        return conn


def main():
    global LOG
    LOG = open(sys.argv[1], "a", buffering=1)
    server = Server(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
