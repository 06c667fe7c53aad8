#!/usr/bin/env python3
"""A scripted HTTPS server for the updater's tests.

    feed_server.py CERT KEY DIR

Serves on a free 127.0.0.1 port (written to DIR/port). Before each request
it re-reads DIR/routes.json, a map from request path to a route:
    {"status": 200, "body": "file name in DIR", "chunk": bytes per write (0 = all at once),
     "pause_ms": pause after each write, "stall_after": bytes sent before going
     silent (-1 = never), "location": redirect target (with a 3xx status)}
Every request is appended to DIR/requests.log as "METHOD PATH USER-AGENT".
"""
import json
import os
import ssl
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

cert, key, folder = sys.argv[1:4]
log_lock = threading.Lock()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        with log_lock, open(os.path.join(folder, "requests.log"), "a") as log:
            log.write("GET %s %s\n" % (self.path, self.headers.get("User-Agent", "")))
        try:
            with open(os.path.join(folder, "routes.json")) as f:
                routes = json.load(f)
        except (OSError, ValueError):
            routes = {}
        route = routes.get(self.path)
        if route is None:
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        body = b""
        if route.get("body"):
            with open(os.path.join(folder, route["body"]), "rb") as f:
                body = f.read()
        self.send_response(route.get("status", 200))
        if route.get("location"):
            self.send_header("Location", route["location"])
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        stall = route.get("stall_after", -1)
        if stall >= 0:
            body = body[:stall]
        chunk = route.get("chunk", 0) or len(body) or 1
        pause = route.get("pause_ms", 0) / 1000.0
        try:
            for i in range(0, len(body), chunk):
                self.wfile.write(body[i:i + chunk])
                self.wfile.flush()
                if pause:
                    time.sleep(pause)
            if stall >= 0:
                time.sleep(300)
        except OSError:
            pass


server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
server.socket = context.wrap_socket(server.socket, server_side=True)
with open(os.path.join(folder, "port.tmp"), "w") as f:
    f.write(str(server.server_address[1]))
os.rename(os.path.join(folder, "port.tmp"), os.path.join(folder, "port"))
server.serve_forever()
