#!/usr/bin/env python3
"""A collector of outcome reports on loopback, for tests: every POST's body becomes one
line of --log (JSON lines), answered 204. Ends by itself after --max-seconds."""
import argparse
import http.server
import threading


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--max-seconds", type=float, default=280)
    args = parser.parse_args()

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
            with open(args.log, "ab") as f:
                f.write(body.replace(b"\n", b" ") + b"\n")
            self.send_response(204)
            self.end_headers()

        def log_message(self, *_):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    threading.Timer(args.max_seconds, server.shutdown).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
