#!/usr/bin/env python3
"""HTTP answers nginx does not give, for the downloader tests. Serves files of ROOT:

  /chunked/NAME     chunked transfer without Content-Length (Range honoured, 206)
  /slow/NAME        64 KiB at once, then 4 KiB every 50 ms

Usage: odd-server.py ROOT PORTFILE LOGFILE. Binds a free loopback port, writes it to
PORTFILE, logs "PATH RANGE" per request to LOGFILE and stops by itself after 280 s.
"""
import http.server
import os
import re
import socketserver
import sys
import threading
import time

ROOT, PORTFILE, LOGFILE = sys.argv[1:4]
log_lock = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def log_request_line(self):
        with log_lock, open(LOGFILE, "a") as log:
            log.write("%s %s\n" % (self.path, self.headers.get("Range", "-")))

    def do_GET(self):
        self.log_request_line()
        kind, _, name = self.path.strip("/").partition("/")
        try:
            with open(os.path.join(ROOT, os.path.basename(name)), "rb") as f:
                data = f.read()
            if kind not in ("chunked", "slow"):
                raise FileNotFoundError(kind)
        except OSError:
            body = b"no such file"
            self.send_response(404)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        try:
            getattr(self, kind)(data)
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True

    def chunked(self, data):
        match = re.fullmatch(r"bytes=(\d+)-", self.headers.get("Range", ""))
        start = int(match.group(1)) if match else None
        code = 200
        if start is not None:
            code, data = 206, data[start:]
        self.send_response(code)
        if code == 206:
            self.send_header("Content-Range", "bytes %d-%d/*" % (start, start + len(data) - 1))
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        at, step = 0, 1000
        while at < len(data):
            piece = data[at:at + step]
            self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            at += len(piece)
            step = step * 3 % 70001 + 17
        self.wfile.write(b"0\r\n\r\n")

    def slow(self, data):
        self.send_response(200)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data[:65536])
        self.wfile.flush()
        at = 65536
        while at < len(data):
            time.sleep(0.05)
            self.wfile.write(data[at:at + 4096])
            self.wfile.flush()
            at += 4096


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


server = Server(("127.0.0.1", 0), Handler)
with open(PORTFILE + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
os.rename(PORTFILE + ".tmp", PORTFILE)
threading.Timer(280, server.shutdown).start()
server.serve_forever()
